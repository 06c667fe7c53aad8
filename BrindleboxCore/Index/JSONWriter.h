#pragma once
// A streaming writer of compact JSON into one string, for files too large to
// build as a document first. Strings are written as UTF-8 with "/" escaped
// as "\/"; invalid UTF-8 is replaced so the output always reads back.
#include <cstdint>
#include <string>
#include <string_view>

namespace bx {

class JSONWriter {
public:
    explicit JSONWriter(std::string& out) : out_(out) {}

    void beginObject() {
        separate();
        out_ += '{';
        first_ = true;
    }
    void endObject() {
        out_ += '}';
        first_ = false;
    }
    void beginArray() {
        separate();
        out_ += '[';
        first_ = true;
    }
    void endArray() {
        out_ += ']';
        first_ = false;
    }

    void key(std::string_view k) {
        separate();
        writeString(k);
        out_ += ':';
        first_ = true;  // the value follows without a comma
    }
    void string(std::string_view s) {
        separate();
        writeString(s);
    }
    void integer(int64_t v);
    // Shortest text that reads back as the same number. Throws
    // std::invalid_argument for NaN and infinities, which JSON cannot hold.
    void number(double v);
    void boolean(bool b) {
        separate();
        out_ += b ? "true" : "false";
    }
    void null() {
        separate();
        out_ += "null";
    }

private:
    void separate() {
        if (!first_) out_ += ',';
        first_ = false;
    }
    void writeString(std::string_view s);

    std::string& out_;
    bool first_ = true;
};

}  // namespace bx
