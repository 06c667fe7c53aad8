#include "Engines/Importer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <system_error>

#include "Mime/EncodedWords.h"
#include "Mime/MIMEParser.h"
#include "Mime/MailDate.h"
#include "Util/FileHandle.h"
#include "Vault/FileNames.h"

namespace bx {

namespace {

bool startsWithFrom(std::string_view line) {
    return line.size() >= 5 && line.substr(0, 5) == "From ";
}

// The bytes after a separator line up to the next one, as a message: trailing
// line ends replaced by one CR LF, >From lines un-escaped. Empty bytes give
// no message.
std::optional<std::string> finishMessage(std::string_view body) {
    if (body.empty()) return std::nullopt;
    while (!body.empty() && (body.back() == '\r' || body.back() == '\n')) body.remove_suffix(1);
    std::string message;
    message.reserve(body.size() + 2);
    message.append(body);
    message += "\r\n";
    return Importer::unescapeFrom(message);
}

std::string_view directoryFor(std::string_view collection, std::string& storage) {
    storage = FileNames::sanitize(collection, 60, 150);
    if (storage.empty()) storage = "Messages";
    storage.insert(0, "Imported/");
    return storage;
}

// Files one message under `base`; nothing when it does not look like mail.
std::optional<std::string> storeOne(const std::string& message, std::string_view base, const ArchiveLayout& layout) {
    if (!MIMEParser::looksValid(message)) return std::nullopt;
    const MIMEHeaders headers = MIMEParser::headers(message);
    Date date = std::chrono::system_clock::now();
    if (const auto value = headers["Date"]) {
        if (const auto parsed = MailDate::parse(*value)) date = *parsed;
    }
    const std::string subject = EncodedWords::decode(headers["Subject"].value_or(""));
    const std::string path =
        std::string(base) + "/" + FileNames::messagePath(date, subject, "i" + Importer::fingerprint(message));
    return layout.write(message, path, date);
}

}  // namespace

std::vector<std::string> Importer::splitMbox(std::string_view data) {
    // Offsets of separator lines.
    std::vector<size_t> separators;
    bool previousBlank = true;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t lf = data.find('\n', pos);
        const size_t end = lf == std::string_view::npos ? data.size() : lf;
        const std::string_view line = data.substr(pos, end - pos);
        if (previousBlank && startsWithFrom(line)) separators.push_back(pos);
        previousBlank = line.empty() || line == "\r";
        pos = lf == std::string_view::npos ? data.size() : lf + 1;
    }

    std::vector<std::string> messages;
    messages.reserve(separators.size());
    for (size_t i = 0; i < separators.size(); ++i) {
        const size_t limit = i + 1 < separators.size() ? separators[i + 1] : data.size();
        const size_t lf = data.find('\n', separators[i]);
        if (lf == std::string_view::npos || lf >= limit) continue;  // separator without a line end
        if (auto message = finishMessage(data.substr(lf + 1, limit - (lf + 1))))
            messages.push_back(std::move(*message));
    }
    return messages;
}

void Importer::splitMboxFile(const std::filesystem::path& file,
                             const std::function<void(std::string&& message)>& onMessage) {
    const FileHandle in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) throw std::system_error(errno, std::generic_category(), "cannot open " + file.string());
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    // The same walk as splitMbox, one line at a time: `line` collects the
    // current line across reads, `body` the message since its separator.
    bool previousBlank = true;
    bool inMessage = false;
    std::string body, line;
    auto emit = [&] {
        if (auto message = finishMessage(body)) onMessage(std::move(*message));
        body.clear();
    };
    bool lineStarted = false;  // the current line's first bytes went to `body` already
    auto takeLine = [&](std::string_view text, bool ended) {
        const std::string_view content = ended ? text.substr(0, text.size() - 1) : text;
        if (lineStarted) {
            if (inMessage) body.append(text);
            previousBlank = false;
            lineStarted = false;
            return;
        }
        if (previousBlank && startsWithFrom(content)) {
            if (inMessage) emit();
            inMessage = ended;  // a separator without a line end starts nothing
        } else if (inMessage) {
            body.append(text);
        }
        previousBlank = content.empty() || content == "\r";
    };

    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "cannot read " + file.string());
        }
        if (n == 0) break;
        std::string_view chunk(buffer.data(), static_cast<size_t>(n));
        while (!chunk.empty()) {
            const size_t lf = chunk.find('\n');
            if (lf == std::string_view::npos) {
                line.append(chunk);
                break;
            }
            if (line.empty()) {
                takeLine(chunk.substr(0, lf + 1), true);
            } else {
                line.append(chunk.substr(0, lf + 1));
                takeLine(line, true);
                line.clear();
            }
            chunk.remove_prefix(lf + 1);
        }
        // A line longer than the buffer goes to the message as it comes:
        // only its first bytes decide whether it is a separator.
        if (line.size() > buffer.size() && !lineStarted && !(previousBlank && startsWithFrom(line))) {
            if (inMessage) body.append(line);
            line.clear();
            lineStarted = true;
        } else if (lineStarted && !line.empty()) {
            if (inMessage) body.append(line);
            line.clear();
        }
    }
    if (!line.empty()) takeLine(line, false);
    if (inMessage) emit();
}

std::string Importer::unescapeFrom(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t lf = bytes.find('\n', pos);
        const size_t end = lf == std::string_view::npos ? bytes.size() : lf + 1;
        std::string_view line = bytes.substr(pos, end - pos);
        size_t quotes = 0;
        while (quotes < line.size() && line[quotes] == '>') ++quotes;
        if (quotes > 0 && startsWithFrom(line.substr(quotes))) line.remove_prefix(1);
        out.append(line);
        pos = end;
    }
    return out;
}

std::string Importer::fingerprint(std::string_view data) {
    unsigned long long h = 14695981039346656037ull;
    for (unsigned char b : data) {
        h ^= b;
        h *= 1099511628211ull;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%08llx", h & 0xffffffffull);
    return buf;
}

std::vector<std::string> Importer::store(const std::vector<std::string>& messages, std::string_view collection,
                                         const ArchiveLayout& layout) {
    std::string storage;
    const std::string_view base = directoryFor(collection, storage);
    std::vector<std::string> paths;
    for (const auto& message : messages)
        if (auto path = storeOne(message, base, layout)) paths.push_back(std::move(*path));
    return paths;
}

std::vector<std::string> Importer::storeMbox(const std::filesystem::path& file, std::string_view collection,
                                             const ArchiveLayout& layout) {
    std::string storage;
    const std::string_view base = directoryFor(collection, storage);
    std::vector<std::string> paths;
    splitMboxFile(file, [&](std::string&& message) {
        if (auto path = storeOne(message, base, layout)) paths.push_back(std::move(*path));
    });
    return paths;
}

}  // namespace bx
