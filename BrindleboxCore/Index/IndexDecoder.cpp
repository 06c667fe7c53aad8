// SearchIndex::decode: reads index.json as a stream of events, so a large
// file never exists twice in memory as text and as a document tree.
#include <cmath>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "Index/SearchIndex.h"

namespace bx {

namespace {

using nlohmann::json;

enum Field : int {
    fId, fPath, fAccount, fFolder, fSubject, fFromName, fFromEmail, fTo, fDate, fSize, fSnippet,
    fAttachments, fTrackers, fRemoteImages, fTrust, fReplyToMismatch, fLinkWarnings, fMtime, fSenderFlag,
    fieldCount, fUnknown = -1,
};
constexpr uint32_t requiredFields = ((1u << fieldCount) - 1) & ~(1u << fSenderFlag);

Field fieldNamed(const std::string& k) {
    static const std::unordered_map<std::string, Field> names = {
        {"id", fId}, {"path", fPath}, {"account", fAccount}, {"folder", fFolder}, {"subject", fSubject},
        {"fromName", fFromName}, {"fromEmail", fFromEmail}, {"to", fTo}, {"date", fDate}, {"size", fSize},
        {"snippet", fSnippet}, {"attachments", fAttachments}, {"trackers", fTrackers},
        {"remoteImages", fRemoteImages}, {"trust", fTrust}, {"replyToMismatch", fReplyToMismatch},
        {"linkWarnings", fLinkWarnings}, {"mtime", fMtime}, {"senderFlag", fSenderFlag},
    };
    auto it = names.find(k);
    return it == names.end() ? fUnknown : it->second;
}

class Decoder : public nlohmann::json_sax<json> {
public:
    enum class State { start, top, records, record, postings, postingList, done };

    std::vector<std::optional<MessageRecord>> records;
    SearchIndex::PostingsMap postings;
    std::optional<int64_t> version;
    bool versionPresent = false;
    bool haveRecords = false;
    bool havePostings = false;

    bool null() override {
        if (skipping()) return skipValue();
        switch (state_) {
            case State::top: return topScalar(false);
            case State::records: records.emplace_back(); return true;
            case State::record:
                if (field_ == fSenderFlag) {
                    current_.senderFlag.reset();
                    seen_ |= 1u << fSenderFlag;
                    return true;
                }
                return field_ == fUnknown;
            default: return false;
        }
    }
    bool boolean(bool v) override {
        if (skipping()) return skipValue();
        if (state_ == State::top) return topScalar(false);
        if (state_ != State::record) return false;
        if (field_ == fUnknown) return true;
        if (field_ != fReplyToMismatch) return false;
        current_.replyToMismatch = v;
        return mark();
    }
    bool number_integer(number_integer_t v) override { return integer(v, true); }
    bool number_unsigned(number_unsigned_t v) override {
        if (!skipping() && state_ == State::record && field_ == fMtime) {
            current_.mtime = static_cast<double>(v);
            return mark();
        }
        if (v > static_cast<uint64_t>(INT64_MAX)) return integer(0, false);
        return integer(static_cast<int64_t>(v), true);
    }
    bool number_float(number_float_t v, const string_t&) override {
        if (skipping()) return skipValue();
        if (state_ == State::record && field_ == fMtime) {
            current_.mtime = v;
            return mark();
        }
        // A whole number written with a fraction part still counts as one.
        if (std::isfinite(v) && std::trunc(v) == v && v >= -9.2e18 && v <= 9.2e18)
            return integer(static_cast<int64_t>(v), true);
        return integer(0, false);
    }
    bool string(string_t& v) override {
        if (skipping()) return skipValue();
        if (state_ == State::top) return topScalar(false);
        if (state_ != State::record) return false;
        switch (field_) {
            case fPath: current_.path = std::move(v); break;
            case fAccount: current_.account = std::move(v); break;
            case fFolder: current_.folder = std::move(v); break;
            case fSubject: current_.subject = std::move(v); break;
            case fFromName: current_.fromName = std::move(v); break;
            case fFromEmail: current_.fromEmail = std::move(v); break;
            case fTo: current_.to = std::move(v); break;
            case fSnippet: current_.snippet = std::move(v); break;
            case fSenderFlag: current_.senderFlag = std::move(v); break;
            case fDate: {
                auto d = MessageRecord::decodeDate(v);
                if (!d) return false;
                current_.date = *d;
                break;
            }
            case fTrust: {
                auto t = SenderTrust::fromRawValue(v);
                if (!t) return false;
                current_.trust = *t;
                break;
            }
            case fUnknown: return true;
            default: return false;
        }
        return mark();
    }
    bool binary(binary_t&) override { return false; }

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
                if (topKey_ == TopKey::records) return false;
                if (topKey_ == TopKey::version) versionBad_ = true;
                return enterSkip();
            case State::records:
                current_ = MessageRecord();
                seen_ = 0;
                field_ = fUnknown;
                state_ = State::record;
                return true;
            case State::record:
                if (field_ == fUnknown) return enterSkip();
                return false;
            default: return false;
        }
    }
    bool key(string_t& k) override {
        if (skipping()) return true;
        switch (state_) {
            case State::top:
                topKey_ = k == "version" ? TopKey::version
                          : k == "records" ? TopKey::records
                          : k == "postings" ? TopKey::postings
                                            : TopKey::other;
                return true;
            case State::record: field_ = fieldNamed(k); return true;
            case State::postings: token_ = std::move(k); return true;
            default: return false;
        }
    }
    bool end_object() override {
        if (skipping()) return leaveSkip();
        switch (state_) {
            case State::top: state_ = State::done; return true;
            case State::record:
                if ((seen_ & requiredFields) != requiredFields) return false;
                records.emplace_back(std::move(current_));
                state_ = State::records;
                return true;
            case State::postings: state_ = State::top; return true;
            default: return false;
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
                if (topKey_ == TopKey::postings) return false;
                if (topKey_ == TopKey::version) versionBad_ = true;
                return enterSkip();
            case State::record:
                if (field_ == fUnknown) return enterSkip();
                return false;
            case State::postings: {
                auto [it, inserted] = postings.try_emplace(std::move(token_));
                it->second.clear();
                list_ = &it->second;
                state_ = State::postingList;
                return true;
            }
            default: return false;
        }
    }
    bool end_array() override {
        if (skipping()) return leaveSkip();
        switch (state_) {
            case State::records: state_ = State::top; return true;
            case State::postingList: state_ = State::postings; return true;
            default: return false;
        }
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

    bool finished() const { return state_ == State::done; }
    bool versionIsThree() const { return !versionBad_ && version && *version == 3; }

private:
    enum class TopKey { version, records, postings, other };

    bool skipping() const { return skipDepth_ > 0; }
    bool skipValue() { return true; }
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
            default: return false;  // "records" and "postings" must be an array and an object
        }
    }
    bool integer(int64_t v, bool ok) {
        if (skipping()) return true;
        switch (state_) {
            case State::top: return topScalar(ok, v);
            case State::record:
                if (field_ == fUnknown) return true;
                if (!ok) return false;
                switch (field_) {
                    case fId: current_.id = v; break;
                    case fSize: current_.size = v; break;
                    case fAttachments: current_.attachments = v; break;
                    case fTrackers: current_.trackers = v; break;
                    case fRemoteImages: current_.remoteImages = v; break;
                    case fLinkWarnings: current_.linkWarnings = v; break;
                    case fMtime: current_.mtime = static_cast<double>(v); break;
                    default: return false;
                }
                return mark();
            case State::postingList:
                if (!ok || v < 0 || v > static_cast<int64_t>(UINT32_MAX - 1)) return false;
                list_->push_back(static_cast<SearchIndex::Slot>(v));
                return true;
            default: return false;
        }
    }

    State state_ = State::start;
    TopKey topKey_ = TopKey::other;
    bool versionBad_ = false;
    int skipDepth_ = 0;
    MessageRecord current_;
    uint32_t seen_ = 0;
    Field field_ = fUnknown;
    std::string token_;
    SearchIndex::Postings* list_ = nullptr;
};

}  // namespace

std::unique_ptr<SearchIndex> SearchIndex::decode(std::string_view text) {
    Decoder d;
    bool ok = false;
    try {
        ok = json::sax_parse(text.begin(), text.end(), &d, json::input_format_t::json, true);
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok || !d.finished()) return nullptr;
    if (!d.versionIsThree()) return std::make_unique<SearchIndex>();
    if (!d.haveRecords || !d.havePostings) return nullptr;

    // Slots are positions: a file whose ids or postings disagree with them
    // is not ours to trust, and reading it would point outside the records.
    const size_t n = d.records.size();
    for (size_t i = 0; i < n; ++i)
        if (d.records[i] && d.records[i]->id != static_cast<int64_t>(i)) return nullptr;
    for (const auto& [token, list] : d.postings) {
        for (size_t i = 0; i < list.size(); ++i) {
            if (list[i] >= n) return nullptr;
            if (i > 0 && list[i] <= list[i - 1]) return nullptr;
        }
    }

    auto index = std::make_unique<SearchIndex>();
    index->records_ = std::move(d.records);
    index->postings_ = std::move(d.postings);
    for (size_t i = 0; i < n; ++i)
        if (index->records_[i]) index->byPath_[index->records_[i]->path] = static_cast<Slot>(i);
    return index;
}

}  // namespace bx
