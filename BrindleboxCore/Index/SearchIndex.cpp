#include "Index/SearchIndex.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "Index/JSONWriter.h"
#include "Mime/MIMEParser.h"
#include "Mime/ParsedMessage.h"
#include "Safety/HTMLInspector.h"
#include "Safety/ReplyToCheck.h"
#include "Safety/SenderCheck.h"
#include "Safety/SenderTrust.h"
#include "Util/AtomicFile.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

constexpr size_t maxIndexedCharacters = 40000;
constexpr size_t snippetCharacters = 180;

// Every run of white space becomes one blank.
std::string collapseWhiteSpace(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const int32_t n = static_cast<int32_t>(s.size());
    bool inRun = false;
    for (int32_t i = 0; i < n;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c >= 0 && isRegexSpace(c)) {
            if (!inRun) out += ' ';
            inRun = true;
        } else {
            out.append(s.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
            inRun = false;
        }
    }
    return out;
}

std::string makeSnippet(std::string_view plain) {
    // Most of a long text cannot reach the snippet; look at its start first.
    constexpr size_t window = 8192;
    if (plain.size() > window) {
        size_t cut = window;
        while (cut > 0 && (static_cast<unsigned char>(plain[cut]) & 0xC0) == 0x80) --cut;
        const std::string head = collapseWhiteSpace(plain.substr(0, cut));
        // More than snippetCharacters + 1 characters, found without counting them all.
        if (prefixCharacters(head, snippetCharacters + 1).size() < head.size())
            return prefixCharacters(head, snippetCharacters);
    }
    return prefixCharacters(collapseWhiteSpace(plain), snippetCharacters);
}

std::string firstCharacters(std::string_view s, size_t n) {
    if (s.size() <= n) return std::string(s);  // never more characters than bytes
    return prefixCharacters(s, n);
}

}  // namespace

// ---- records --------------------------------------------------------------

std::pair<MessageRecord, std::string> SearchIndex::makeRecord(std::string_view data, std::string_view path,
                                                              double mtime) {
    // Attachments count and lend their names to the search text; their
    // bytes are never read here, so they are not decoded either.
    const ParsedMessage msg = MIMEParser::parse(data, MIMEParser::AttachmentBodies::encoded);

    std::vector<std::string_view> components;
    for (size_t start = 0; start <= path.size();) {
        size_t slash = path.find('/', start);
        if (slash == std::string_view::npos) slash = path.size();
        if (slash > start) components.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }

    const std::string plain = msg.plainText();
    const HTMLReport report = msg.htmlBody ? HTMLInspector::inspect(*msg.htmlBody) : HTMLReport();
    const SenderTrust trust = SenderTrust::from(msg.headers).first;
    std::optional<MailAddress> sender;
    if (!msg.from.empty()) sender = msg.from.front();
    const bool replyToMismatch = ReplyToCheck::mismatch(msg.from, msg.replyTo).has_value();
    const auto flags = SenderCheck::check(sender, {}, {});

    MessageRecord r;
    r.id = 0;
    r.path = std::string(path);
    // A file at the vault root belongs to no account; its name is no directory.
    if (!r.isAtVaultRoot()) {
        r.account = components.size() > 0 ? std::string(components[0]) : std::string();
        r.folder = components.size() > 1 ? std::string(components[1]) : std::string();
    }
    r.subject = msg.subject;
    r.fromName = sender ? sender->name : std::string();
    r.fromEmail = sender ? sender->email : std::string();
    {
        std::string to;
        bool first = true;
        for (const auto* list : {&msg.to, &msg.cc})
            for (const auto& a : *list) {
                if (!first) to += ", ";
                to += a.formatted();
                first = false;
            }
        r.to = std::move(to);
    }
    r.date = msg.date ? *msg.date : MessageRecord::dateFromSeconds(mtime);
    r.size = static_cast<int64_t>(data.size());
    r.snippet = makeSnippet(plain);
    r.attachments = static_cast<int64_t>(msg.fileAttachmentCount());
    r.trackers = report.trackerCount;
    r.remoteImages = report.remoteImageCount;
    r.trust = trust;
    r.replyToMismatch = replyToMismatch;
    r.linkWarnings = static_cast<int64_t>(report.linkWarnings.size());
    r.mtime = mtime;
    if (!flags.empty()) r.senderFlag = flags.front().summary;

    std::string text = msg.subject;
    text += '\n';
    {
        bool first = true;
        for (const auto* list : {&msg.from, &msg.to, &msg.cc})
            for (const auto& a : *list) {
                if (!first) text += ' ';
                text += a.name;
                text += ' ';
                text += a.email;
                first = false;
            }
    }
    text += '\n';
    text += firstCharacters(plain, maxIndexedCharacters);
    text += '\n';
    for (size_t i = 0; i < msg.attachments.size(); ++i) {
        if (i) text += ' ';
        text += msg.attachments[i].filename;
    }
    return {std::move(r), std::move(text)};
}

// ---- changes --------------------------------------------------------------

MessageRecord SearchIndex::thinRecord(Slot s) const {
    MessageRecord r;
    r.id = s;
    r.path = std::string(pathOf(s));
    r.date = dateOf(s);
    return r;
}

std::vector<MessageRecord> SearchIndex::liveRecords() const {
    std::vector<MessageRecord> out;
    out.reserve(byPath_.size());
    if (thin_) {
        for (Slot s = 0; s < slotCount(); ++s)
            if (isLive(s)) out.push_back(thinRecord(s));
        return out;
    }
    for (const auto& r : records_)
        if (r) out.push_back(*r);
    return out;
}

std::vector<MessageRecord> SearchIndex::takeLiveRecords() {
    if (thin_) return liveRecords();
    indexstorage::ThinRecords thin;
    size_t pathBytes = 0;
    for (const auto& r : records_)
        if (r) pathBytes += r->path.size();
    thin.paths.reserve(pathBytes);
    thin.ends.reserve(records_.size());
    thin.dates.reserve(records_.size());
    thin.live.reserve(records_.size());
    std::vector<MessageRecord> out;
    out.reserve(byPath_.size());
    for (auto& r : records_) {
        if (!r) {
            thin.push({}, Date{}, false);
            continue;
        }
        thin.push(r->path, r->date, true);
        out.push_back(std::move(*r));
    }
    // The slots' records go whole, not just emptied: a record's own size is
    // most of what a kept index would otherwise hold.
    std::vector<std::optional<MessageRecord>>().swap(records_);
    thin_ = std::move(thin);
    // Lists built by add() keep their growth slack; kept for good now, they
    // need none.
    for (auto& [token, list] : lists_) list.shrink();
    expanded_.reset();
    return out;
}

void SearchIndex::thicken() {
    if (!thin_) return;
    std::vector<std::optional<MessageRecord>> records(slotCount());
    for (Slot s = 0; s < records.size(); ++s)
        if (isLive(s)) records[s] = thinRecord(s);
    thin_.reset();
    records_ = std::move(records);
}

std::optional<MessageRecord> SearchIndex::record(std::string_view path) const {
    const auto s = slot(path);
    if (!s) return std::nullopt;
    if (thin_) return thinRecord(*s);
    return records_[*s];
}

std::optional<SearchIndex::Slot> SearchIndex::slot(std::string_view path) const {
    return byPath_.find(path, pathLookup());
}

std::optional<std::string_view> SearchIndex::pathAt(Slot slot) const {
    if (slot >= slotCount() || !isLive(slot)) return std::nullopt;
    return pathOf(slot);
}

std::optional<Date> SearchIndex::dateAt(Slot slot) const {
    if (slot >= slotCount() || !isLive(slot)) return std::nullopt;
    return dateOf(slot);
}

void SearchIndex::changed() {
    sortedTokens_.reset();
    newestFirst_.reset();
    expanded_.reset();
}

void SearchIndex::add(MessageRecord record, std::string_view text) {
    addTokenized(std::move(record), distinctTokens(text));
}

std::vector<std::string> SearchIndex::distinctTokens(std::string_view text) {
    auto tokens = tokenize(text);
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    return tokens;
}

void SearchIndex::addTokenized(MessageRecord record, std::vector<std::string> tokens) {
    thicken();
    remove(record.path);
    const auto slot = static_cast<Slot>(records_.size());
    record.id = slot;
    records_.push_back(std::move(record));
    byPath_.insert(slot, pathLookup());
    // The new slot is the highest, so every list stays ascending.
    for (auto& t : tokens) lists_[std::move(t)].append(slot);
    changed();
}

void SearchIndex::remove(std::string_view path) {
    const auto s = byPath_.find(path, pathLookup());
    if (!s) return;
    byPath_.erase(path, pathLookup());
    if (thin_)
        thin_->live[*s] = false;
    else
        records_[*s].reset();
    expanded_.reset();
}

void SearchIndex::compact() {
    thicken();
    constexpr Slot gone = static_cast<Slot>(-1);
    std::vector<Slot> renumber(records_.size(), gone);
    std::vector<std::optional<MessageRecord>> live;
    live.reserve(byPath_.size());
    for (size_t old = 0; old < records_.size(); ++old) {
        if (!records_[old]) continue;
        const auto slot = static_cast<Slot>(live.size());
        renumber[old] = slot;
        MessageRecord r = std::move(*records_[old]);
        r.id = slot;
        live.push_back(std::move(r));
    }
    records_ = std::move(live);
    byPath_.clear();
    for (size_t s = 0; s < records_.size(); ++s) byPath_.insert(static_cast<Slot>(s), pathLookup());

    for (auto it = lists_.begin(); it != lists_.end();) {
        indexstorage::PostingList renumbered;
        it->second.forEach([&](Slot s) {
            if (s < renumber.size() && renumber[s] != gone) renumbered.append(renumber[s]);
        });
        if (renumbered.empty()) {
            it = lists_.erase(it);
        } else {
            renumbered.shrink();
            it->second = std::move(renumbered);
            ++it;
        }
    }
    changed();
}

const SearchIndex::PostingsMap& SearchIndex::postings() const {
    if (!expanded_) {
        PostingsMap m;
        m.reserve(lists_.size());
        for (const auto& [token, list] : lists_) m.emplace(token, list.slots());
        expanded_ = std::move(m);
    }
    return *expanded_;
}

// ---- queries --------------------------------------------------------------

const std::vector<SearchIndex::Entry>& SearchIndex::sortedTokens() const {
    if (!sortedTokens_) {
        std::vector<Entry> entries;
        entries.reserve(lists_.size());
        for (const auto& kv : lists_) entries.push_back(&kv);
        std::sort(entries.begin(), entries.end(), [](Entry a, Entry b) { return a->first < b->first; });
        sortedTokens_ = std::move(entries);
    }
    return *sortedTokens_;
}

bool SearchIndex::newer(Slot a, Slot b) const {
    const Date da = dateOf(a), db = dateOf(b);
    return da != db ? da > db : a < b;
}

const std::vector<SearchIndex::Slot>& SearchIndex::newestFirst() const {
    if (!newestFirst_) {
        std::vector<Slot> order;
        order.reserve(byPath_.size());
        for (Slot s = 0; s < slotCount(); ++s)
            if (isLive(s)) order.push_back(s);
        std::sort(order.begin(), order.end(), [&](Slot a, Slot b) { return newer(a, b); });
        newestFirst_ = std::move(order);
    }
    return *newestFirst_;
}

std::pair<size_t, size_t> SearchIndex::prefixRange(std::string_view prefix) const {
    const auto& tokens = sortedTokens();
    size_t lo = 0, hi = tokens.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (std::string_view(tokens[mid]->first) < prefix)
            lo = mid + 1;
        else
            hi = mid;
    }
    size_t end = lo;
    while (end < tokens.size() && std::string_view(tokens[end]->first).substr(0, prefix.size()) == prefix) ++end;
    return {lo, end};
}

std::vector<std::string_view> SearchIndex::tokensWithPrefix(std::string_view prefix) const {
    const auto [lo, hi] = prefixRange(prefix);
    std::vector<std::string_view> out;
    out.reserve(hi - lo);
    for (size_t i = lo; i < hi; ++i) out.push_back((*sortedTokens_)[i]->first);
    return out;
}

std::vector<SearchIndex::Slot> SearchIndex::searchSlots(std::string_view query) const {
    const auto queryTokens = tokenize(query);
    if (queryTokens.empty()) return {};
    const size_t n = slotCount();
    const size_t words = (n + 63) / 64;
    std::vector<uint64_t> result, current;
    bool firstToken = true;
    for (const auto& token : queryTokens) {
        current.assign(words, 0);
        const auto [lo, hi] = prefixRange(token);
        const auto& tokens = *sortedTokens_;
        for (size_t i = lo; i < hi; ++i)
            tokens[i]->second.forEach([&](Slot s) {
                if (s < n) current[s >> 6] |= uint64_t{1} << (s & 63);
            });
        bool any = false;
        if (firstToken) {
            result.swap(current);
            for (uint64_t w : result) any |= w != 0;
            firstToken = false;
        } else {
            for (size_t w = 0; w < words; ++w) any |= (result[w] &= current[w]) != 0;
        }
        if (!any) return {};
    }
    size_t hits = 0;
    for (uint64_t w : result) hits += static_cast<size_t>(__builtin_popcountll(w));
    std::vector<Slot> slots;
    slots.reserve(hits);
    if (hits > n / 32) {
        // Many matches: reading them off the date order is cheaper than sorting.
        for (Slot s : newestFirst())
            if ((result[s >> 6] >> (s & 63)) & 1 && isLive(s)) slots.push_back(s);
        return slots;
    }
    for (size_t w = 0; w < words; ++w)
        for (uint64_t bits = result[w]; bits; bits &= bits - 1) {
            const auto s = static_cast<Slot>(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
            if (isLive(s)) slots.push_back(s);
        }
    std::sort(slots.begin(), slots.end(), [&](Slot a, Slot b) { return newer(a, b); });
    return slots;
}

std::vector<MessageRecord> SearchIndex::search(std::string_view query) const {
    const auto slots = searchSlots(query);
    std::vector<MessageRecord> out;
    out.reserve(slots.size());
    for (Slot s : slots) out.push_back(thin_ ? thinRecord(s) : *records_[s]);
    return out;
}

// ---- file -----------------------------------------------------------------

std::string SearchIndex::encode() const {
    std::string out;
    size_t estimate = 64;
    for (const auto& r : records_)
        estimate += r ? 400 + r->path.size() + r->subject.size() + r->snippet.size() + r->to.size() : 5;
    for (const auto& kv : lists_) estimate += kv.first.size() + 4 + size_t{kv.second.size()} * 6;
    out.reserve(estimate);
    encode([&](std::string_view piece) { out += piece; });
    return out;
}

void SearchIndex::encode(const std::function<void(std::string_view)>& sink) const {
    if (thin_) {
        // Not for saving (the records are gone), but whole all the same.
        SearchIndex copy;
        copy.thin_ = thin_;
        copy.lists_ = lists_;
        copy.thicken();
        copy.encode(sink);
        return;
    }
    constexpr size_t pieceSize = size_t{1} << 20;
    std::string out;
    out.reserve(pieceSize + 64 * 1024);
    const auto flushIfFull = [&] {
        if (out.size() < pieceSize) return;
        sink(out);
        out.clear();
    };

    JSONWriter w(out);
    w.beginObject();
    w.key("version");
    w.integer(3);
    w.key("records");
    w.beginArray();
    for (const auto& r : records_) {
        if (r)
            r->writeJSON(w);
        else
            w.null();
        flushIfFull();
    }
    w.endArray();
    w.key("postings");
    w.beginObject();
    // Sorted, so that an unchanged index always writes the same bytes.
    for (Entry e : sortedTokens()) {
        w.key(e->first);
        w.beginArray();
        e->second.forEach([&](Slot s) { w.integer(s); });
        w.endArray();
        flushIfFull();
    }
    w.endObject();
    w.endObject();
    sink(out);
}

void SearchIndex::save(const std::filesystem::path& file) const {
    if (file.has_parent_path()) createPrivateDirectories(file.parent_path());
    writeFileAtomically(file, [this](const std::function<void(std::string_view)>& write) { encode(write); });
}

}  // namespace bx
