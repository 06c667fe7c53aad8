#include "Mime/MimeTypes.h"

#include "Mime/MimeText.h"
#include "Util/Unicode.h"

namespace bx {

const std::map<std::string, std::string, std::less<>>& MimeTypes::map() {
    static const std::map<std::string, std::string, std::less<>> m = {
        {"application/pdf", "pdf"},
        {"image/jpeg", "jpg"},
        {"image/png", "png"},
        {"image/gif", "gif"},
        {"image/webp", "webp"},
        {"image/heic", "heic"},
        {"text/plain", "txt"},
        {"text/html", "html"},
        {"text/calendar", "ics"},
        {"application/zip", "zip"},
        {"application/msword", "doc"},
        {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "docx"},
        {"application/vnd.ms-excel", "xls"},
        {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "xlsx"},
        {"text/csv", "csv"},
        {"application/json", "json"},
        {"audio/mpeg", "mp3"},
        {"video/mp4", "mp4"},
        {"message/rfc822", "eml"},
    };
    return m;
}

std::string MimeTypes::ext(std::string_view mimeType) {
    const auto& m = map();
    auto it = m.find(lowercased(mimeType));
    return it == m.end() ? std::string() : it->second;
}

}  // namespace bx
