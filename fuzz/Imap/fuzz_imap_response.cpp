// Feeds arbitrary bytes to the response reader in chunks whose sizes come from
// the input, parses every response it cuts, and runs the FETCH and LIST reply
// builders over the results. The reader must cut the same responses whatever
// the chunking, and nothing may crash, hang or allocate an announced size.
#include "Imap/IMAPFetchItem.h"
#include "Imap/IMAPMailbox.h"
#include "Imap/IMAPResponseParser.h"
#include "Imap/IMAPResponseReader.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

std::vector<std::vector<std::uint8_t>> cutAll(const std::uint8_t* data, std::size_t size, std::size_t chunk, bool& failed) {
    bx::IMAPResponseReader reader;
    std::vector<std::vector<std::uint8_t>> out;
    failed = false;
    for (std::size_t i = 0; i < size && !failed; i += chunk) {
        reader.append(data + i, std::min(chunk, size - i));
        try {
            while (auto raw = reader.nextRawResponse()) out.push_back(std::move(*raw));
        } catch (const bx::IMAPParseError&) {
            failed = true;
        }
    }
    return out;
}

void use(const bx::IMAPResponse& r) {
    if (!r.isUntagged()) return;
    if (auto item = bx::IMAPFetchItem::fromValues(r.values)) {
        if (item->body && item->body->size() > (std::size_t(1) << 30)) std::abort();
    }
    if (auto mailbox = bx::IMAPMailbox::fromListResponse(r.values)) {
        (void)mailbox->role();
        (void)mailbox->isSelectable();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the chunk size for the second pass.
    const std::size_t chunk = 1 + data[0] % 17;
    ++data;
    --size;

    bool failedWhole = false, failedChunked = false;
    const auto whole = cutAll(data, size, size ? size : 1, failedWhole);
    const auto chunked = cutAll(data, size, chunk, failedChunked);
    // Chunking never changes what is cut (a limit error may come earlier or
    // later, so only compare clean runs).
    if (!failedWhole && !failedChunked && whole != chunked) std::abort();

    for (const auto& raw : whole) {
        try {
            use(bx::IMAPResponseParser::parse(raw));
        } catch (const bx::IMAPParseError&) {
        }
    }
    try {
        (void)bx::IMAPResponseParser::tokens(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const bx::IMAPParseError&) {
    }
    // next() parses in place; it must agree with the raw cut and parse.
    bx::IMAPResponseReader reader;
    reader.append(data, size);
    for (std::size_t i = 0;; ++i) {
        const std::size_t before = reader.bufferedByteCount();
        try {
            auto r = reader.next();
            if (!r) break;
            use(*r);
        } catch (const bx::IMAPParseError&) {
            // A parse error consumes its response; a limit error consumes
            // nothing and repeats, and the connection would give up.
            if (reader.bufferedByteCount() == before) break;
        }
        if (i > size + 1) std::abort();  // every call consumes or stops
    }
    return 0;
}
