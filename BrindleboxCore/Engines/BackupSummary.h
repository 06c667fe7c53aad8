#pragma once
// What a finished backup run hands back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bx {

// A list of texts kept in one block: a run over a large account lists every
// stored path, and one string object per path would cost more than the
// paths themselves.
class TextList {
public:
    using value_type = std::string_view;
    class const_iterator {
    public:
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        const_iterator() = default;
        const_iterator(const TextList* list, std::size_t at) : list_(list), at_(at) {}
        std::string_view operator*() const { return (*list_)[at_]; }
        const_iterator& operator++() { return ++at_, *this; }
        const_iterator operator++(int) { return const_iterator(list_, at_++); }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

    private:
        const TextList* list_ = nullptr;
        std::size_t at_ = 0;
    };
    using iterator = const_iterator;

    void push_back(std::string_view text) {
        text_.append(text);
        ends_.push_back(text_.size());
    }
    // Room for `count` more texts of `bytes` more bytes in all.
    void reserveMore(std::size_t count, std::size_t bytes) {
        ends_.reserve(ends_.size() + count);
        text_.reserve(text_.size() + bytes);
    }
    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::string_view operator[](std::size_t i) const {
        const std::size_t start = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(text_).substr(start, ends_[i] - start);
    }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }

    friend bool operator==(const TextList&, const TextList&) = default;
    friend bool operator==(const TextList& list, const std::vector<std::string>& texts) {
        if (list.size() != texts.size()) return false;
        for (std::size_t i = 0; i < texts.size(); ++i)
            if (list[i] != texts[i]) return false;
        return true;
    }

private:
    std::string text_;
    std::vector<std::size_t> ends_;
};

// A new message left on the server because the server announced it larger
// than a reply can be received (IMAPResponseReader::maxLiteralLength). The
// rest of its folder is backed up; the next run finds it again.
struct SkippedMessage {
    std::string mailbox;  // raw name
    std::string folder;   // display name
    std::string subject;  // decoded; empty when it has none
    std::uint32_t uid = 0;
    std::int64_t size = 0;  // RFC822.SIZE
    friend bool operator==(const SkippedMessage&, const SkippedMessage&) = default;
};

// A chosen folder the server refused to open; the run went on with the others.
struct RefusedFolder {
    std::string mailbox;      // raw name
    std::string folder;       // display name
    std::string title;        // the refusal in the words of FriendlyError::describe
    std::string advice;
    friend bool operator==(const RefusedFolder&, const RefusedFolder&) = default;
};

// Messages an interrupted release had left flagged \Deleted in a folder,
// whose flag the backup took off.
struct UnflaggedLeftovers {
    std::string mailbox;  // raw name
    std::string folder;   // display name
    std::int64_t count = 0;
    friend bool operator==(const UnflaggedLeftovers&, const UnflaggedLeftovers&) = default;
};

struct BackupSummary {
    std::int64_t newMessages = 0;  // stored in this run, written or recognised as present
    std::int64_t bytes = 0;        // their byte lengths, summed
    std::int64_t folders = 0;      // mailboxes finished, those with nothing new included
    TextList files;                // vault-relative paths of all stored messages, in order
    // Requested messages the server did not deliver. They are not given up on:
    // the next run asks for them again. The caller may tell the user.
    std::int64_t missing = 0;
    // What this run left out; each is a failure of its folder only.
    std::vector<SkippedMessage> skipped;
    std::vector<RefusedFolder> refused;
    std::vector<UnflaggedLeftovers> unflagged;
};

}  // namespace bx
