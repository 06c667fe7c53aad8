#pragma once
// index.json's meaning, apart from its syntax: IndexDecoder takes the events
// of a JSON reader (nlohmann's SAX interface) and builds the records and
// posting lists, refusing anything the index does not write. Any reader that
// produces these events can load an index; SearchIndex::load uses its own.
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Index/IndexStorage.h"
#include "Index/RecordFields.h"
#include "Index/SearchIndex.h"

namespace bx {

class IndexDecoder : public nlohmann::json_sax<nlohmann::json> {
public:
    enum class State { start, top, records, record, postings, postingList, done };

    std::vector<std::optional<MessageRecord>> records;
    indexstorage::ListMap postings;
    std::optional<int64_t> version;
    bool haveRecords = false;
    bool havePostings = false;

    bool null() override {
        if (skipping()) return true;
        switch (state_) {
            case State::top: return topScalar(false);
            case State::records: records.emplace_back(); return true;
            case State::record:
                if (field_ < 0) return true;
                if (auto m = member<std::optional<std::string> MessageRecord::*>()) {
                    (current().*m).reset();
                    return mark();
                }
                return fail("is null");
            default: return fail("null where none belongs");
        }
    }
    bool boolean(bool v) override {
        if (skipping()) return true;
        if (state_ == State::top) return topScalar(false);
        if (state_ != State::record) return fail("a boolean where none belongs");
        if (field_ < 0) return true;
        if (auto m = member<bool MessageRecord::*>()) {
            current().*m = v;
            return mark();
        }
        return fail("is not a boolean");
    }
    bool number_integer(number_integer_t v) override { return integer(v, true); }
    bool number_unsigned(number_unsigned_t v) override {
        if (!skipping() && state_ == State::record && field_ >= 0)
            if (auto m = member<double MessageRecord::*>()) {
                current().*m = static_cast<double>(v);
                return mark();
            }
        if (v > static_cast<uint64_t>(INT64_MAX)) return integer(0, false);
        return integer(static_cast<int64_t>(v), true);
    }
    bool number_float(number_float_t v, const string_t&) override {
        if (skipping()) return true;
        if (state_ == State::record && field_ >= 0)
            if (auto m = member<double MessageRecord::*>()) {
                current().*m = v;
                return mark();
            }
        // A whole number written with a fraction part still counts as one.
        if (std::isfinite(v) && std::trunc(v) == v && v >= -9.2e18 && v <= 9.2e18)
            return integer(static_cast<int64_t>(v), true);
        return integer(0, false);
    }
    bool string(string_t& v) override {
        if (skipping()) return true;
        if (state_ == State::top) return topScalar(false);
        if (state_ != State::record) return fail("a string where none belongs");
        if (field_ < 0) return true;
        if (auto m = member<std::string MessageRecord::*>()) {
            current().*m = std::move(v);
        } else if (auto m = member<std::optional<std::string> MessageRecord::*>()) {
            current().*m = std::move(v);
        } else if (auto m = member<Date MessageRecord::*>()) {
            auto d = MessageRecord::decodeDate(v);
            if (!d) return fail("is not an ISO-8601 date with whole seconds");
            current().*m = *d;
        } else if (auto m = member<SenderTrust MessageRecord::*>()) {
            auto t = SenderTrust::fromRawValue(v);
            if (!t) return fail("is not a known verdict");
            current().*m = *t;
        } else {
            return fail("is a string");
        }
        return mark();
    }
    bool binary(binary_t&) override { return fail("binary data"); }

    bool start_object(std::size_t) override {
        if (skipping()) return enterSkip();
        switch (state_) {
            case State::start: state_ = State::top; return true;
            case State::top:
                if (topKey_ == TopKey::postings) {
                    havePostings = true;
                    state_ = State::postings;
                    return true;
                }
                if (topKey_ == TopKey::records) return fail("\"records\" is not an array");
                if (topKey_ == TopKey::version) versionBad_ = true;
                return enterSkip();
            case State::records:
                // Built where it stays: moving a finished record into the
                // list cost as much as reading its text.
                records.emplace_back(std::in_place);
                seen_ = 0;
                field_ = -1;
                state_ = State::record;
                return true;
            case State::record:
                if (field_ < 0) return enterSkip();
                return fail("is an object");
            default: return fail("an object where none belongs");
        }
    }
    bool key(string_t& k) override {
        if (skipping()) return true;
        switch (state_) {
            case State::top:
                topKey_ = k == "version"    ? TopKey::version
                          : k == "records"  ? TopKey::records
                          : k == "postings" ? TopKey::postings
                                            : TopKey::other;
                return true;
            case State::record: field_ = recordfields::fieldIndex(k, field_ + 1); return true;
            case State::postings: token_ = std::move(k); return true;
            default: return fail("a key where none belongs");
        }
    }
    bool end_object() override {
        if (skipping()) return leaveSkip();
        switch (state_) {
            case State::top: state_ = State::done; return true;
            case State::record:
                if ((seen_ & recordfields::requiredMask()) != recordfields::requiredMask()) {
                    field_ = -1;
                    return fail("lacks a required field");
                }
                state_ = State::records;
                return true;
            case State::postings: state_ = State::top; return true;
            default: return fail("unbalanced object");
        }
    }
    bool start_array(std::size_t) override {
        if (skipping()) return enterSkip();
        switch (state_) {
            case State::top:
                if (topKey_ == TopKey::records) {
                    haveRecords = true;
                    state_ = State::records;
                    return true;
                }
                if (topKey_ == TopKey::postings) return fail("\"postings\" is not an object");
                if (topKey_ == TopKey::version) versionBad_ = true;
                return enterSkip();
            case State::record:
                if (field_ < 0) return enterSkip();
                return fail("is an array");
            case State::postings: {
                auto [it, inserted] = postings.try_emplace(std::move(token_));
                it->second.clear();
                target_ = &it->second;
                // Read into a scratch list, then copied at its exact size:
                // no growth slack is kept, and no block freed per doubling.
                scratch_.clear();
                state_ = State::postingList;
                return true;
            }
            default: return fail("an array where none belongs");
        }
    }
    bool end_array() override {
        if (skipping()) return leaveSkip();
        switch (state_) {
            case State::records: state_ = State::top; return true;
            case State::postingList:
                *target_ = scratch_;
                state_ = State::postings;
                return true;
            default: return fail("unbalanced array");
        }
    }
    bool parse_error(std::size_t at, const std::string&, const nlohmann::detail::exception&) override {
        return syntaxError(at);
    }

    bool inPostingList() const { return state_ == State::postingList && !skipping(); }
    // Slots must be strictly ascending, or the file is not one we wrote.
    bool posting(uint64_t v) {
        if (v > UINT32_MAX - 1) return fail("a slot out of range");
        if (!scratch_.empty() && static_cast<uint32_t>(v) <= scratch_.last()) return fail("slots out of order");
        scratch_.append(static_cast<SearchIndex::Slot>(v));
        return true;
    }

    bool finished() const { return state_ == State::done; }
    // For a reader that starts inside the file, where a record (in the
    // records array) or a posting list (in the postings object) begins.
    void resumeIn(State s) {
        state_ = s;
        haveRecords = s == State::records;
        havePostings = s == State::postings;
    }
    bool versionIsThree() const { return !versionBad_ && version && *version == 3; }

    // Why the last event was refused, for the caller's log.
    const std::string& error() const { return error_; }
    bool syntaxError(size_t offset) {
        if (error_.empty()) error_ = "not valid JSON at byte " + std::to_string(offset);
        return false;
    }
    bool fail(const std::string& why) {
        if (!error_.empty()) return false;
        switch (state_) {
            case State::record:
                error_ = "record " + std::to_string(records.size() - 1);
                if (field_ >= 0) error_ += ": \"" + std::string(recordfields::fields[size_t(field_)].name) + "\"";
                error_ += " " + why;
                break;
            case State::postingList: error_ = "a posting list has " + why; break;
            default: error_ = why;
        }
        return false;
    }

private:
    enum class TopKey { version, records, postings, other };

    template <class M>
    M member() const {
        const auto* m = std::get_if<M>(&recordfields::fields[static_cast<size_t>(field_)].member);
        return m ? *m : nullptr;
    }

    MessageRecord& current() { return *records.back(); }
    bool skipping() const { return skipDepth_ > 0; }
    bool enterSkip() {
        ++skipDepth_;
        return true;
    }
    bool leaveSkip() {
        --skipDepth_;
        return true;
    }
    bool mark() {
        seen_ |= 1u << field_;
        return true;
    }
    // A scalar directly under the top object: only "version" is read.
    bool topScalar(bool isInteger, int64_t v = 0) {
        switch (topKey_) {
            case TopKey::version:
                if (isInteger)
                    version = v;
                else
                    versionBad_ = true;
                return true;
            case TopKey::other: return true;
            case TopKey::records: return fail("\"records\" is not an array");
            case TopKey::postings: return fail("\"postings\" is not an object");
        }
        return false;
    }
    bool integer(int64_t v, bool ok) {
        if (skipping()) return true;
        switch (state_) {
            case State::top: return topScalar(ok, v);
            case State::record:
                if (field_ < 0) return true;
                if (!ok) return fail("is not a whole number in range");
                if (auto m = member<int64_t MessageRecord::*>()) {
                    current().*m = v;
                } else if (auto m = member<double MessageRecord::*>()) {
                    current().*m = static_cast<double>(v);
                } else {
                    return fail("is a number");
                }
                return mark();
            case State::postingList:
                if (!ok || v < 0) return fail("a slot that is not a whole number from 0");
                return posting(static_cast<uint64_t>(v));
            default: return fail("a number where none belongs");
        }
    }

    State state_ = State::start;
    TopKey topKey_ = TopKey::other;
    bool versionBad_ = false;
    int skipDepth_ = 0;
    uint32_t seen_ = 0;
    int field_ = -1;
    std::string token_;
    indexstorage::PostingList* target_ = nullptr;
    indexstorage::PostingList scratch_;
    std::string error_;
};

// Turns what a decoder built into an index: a differently versioned file
// gives an empty one, an inconsistent file (nullptr, with the reason in
// `error`) none.
struct IndexFileReader {
    static std::unique_ptr<SearchIndex> fromDecoded(IndexDecoder& d, std::string* error = nullptr);
};

// SearchIndex::load with its choices open: a file of at least `smallest`
// bytes, laid out as the index writes it, is read by up to `threads`
// threads at once (0: one a core, at most four); any other file, or one
// whose pieces don't join up, by one.
std::unique_ptr<SearchIndex> loadIndex(const std::filesystem::path& file, std::string* error, unsigned threads,
                                       size_t smallest);

}  // namespace bx
