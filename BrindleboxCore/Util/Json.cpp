#include "Util/Json.h"

namespace bx {

json parseJSON(std::string_view text) {
    try {
        return json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        throw JSONDecodeError(std::string("malformed JSON: ") + e.what());
    }
}

}  // namespace bx
