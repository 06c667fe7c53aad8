#include "Vault/Importer.h"

#include <chrono>
#include <cstdio>

#include "Mime/EncodedWords.h"
#include "Mime/MIMEParser.h"
#include "Mime/MailDate.h"
#include "Vault/FileNames.h"

namespace bx {

namespace {

bool startsWithFrom(std::string_view line) { return line.size() >= 5 && line.substr(0, 5) == "From "; }

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
        std::string_view body = data.substr(lf + 1, limit - (lf + 1));
        if (body.empty()) continue;
        while (!body.empty() && (body.back() == '\r' || body.back() == '\n')) body.remove_suffix(1);
        std::string message(body);
        message += "\r\n";
        messages.push_back(unescapeFrom(message));
    }
    return messages;
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
    std::string folder = FileNames::sanitize(collection, 60, 150);
    if (folder.empty()) folder = "Messages";
    const std::string base = "Imported/" + folder;

    std::vector<std::string> paths;
    for (const auto& message : messages) {
        if (!MIMEParser::looksValid(message)) continue;
        const MIMEHeaders headers = MIMEParser::headers(message);
        Date date = std::chrono::system_clock::now();
        if (const auto value = headers["Date"]) {
            if (const auto parsed = MailDate::parse(*value)) date = *parsed;
        }
        const std::string subject = EncodedWords::decode(headers["Subject"].value_or(""));
        const std::string path = base + "/" + FileNames::messagePath(date, subject, "i" + fingerprint(message));
        paths.push_back(layout.write(message, path, date));
    }
    return paths;
}

}  // namespace bx
