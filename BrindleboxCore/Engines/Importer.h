#pragma once
// Brings loose .eml files and mbox files into the vault under "Imported".
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Vault/ArchiveLayout.h"

namespace bx {

struct Importer {
    // The messages of an mbox file, in file order. A "From " line starts a
    // message only at the very start or right after an empty line; each
    // message ends in exactly one CR LF and has its >From lines un-escaped
    // (mboxrd). Never fails.
    static std::vector<std::string> splitMbox(std::string_view data);

    // splitMbox on a file read piece by piece: each message is handed over as
    // soon as it is complete, so no more than one message and a read buffer
    // are held whatever the file's size. Throws std::system_error when the
    // file cannot be read; messages handed over before stay handed over.
    static void splitMboxFile(const std::filesystem::path& file,
                              const std::function<void(std::string&& message)>& onMessage);

    // mboxrd: a line of one or more ">" followed by "From " loses one ">".
    static std::string unescapeFrom(std::string_view bytes);

    // Low 32 bits of the 64-bit FNV-1a hash, as 8 lower-case hex digits.
    static std::string fingerprint(std::string_view data);

    // Files each message that looks like mail at
    // "Imported/<collection>/<year>/<day> <subject> i<fingerprint>.eml" and
    // returns the paths used (already present ones included), in input order.
    // Empty messages and ones without any of the usual header fields are
    // skipped. Throws the first error of ArchiveLayout::write.
    static std::vector<std::string> store(const std::vector<std::string>& messages, std::string_view collection,
                                          const ArchiveLayout& layout);

    // store() for the messages of an mbox file, read with splitMboxFile: one
    // message in memory at a time. Throws std::system_error when the file
    // cannot be read, and the first error of ArchiveLayout::write.
    static std::vector<std::string> storeMbox(const std::filesystem::path& file, std::string_view collection,
                                              const ArchiveLayout& layout);
};

}  // namespace bx
