#pragma once
// The changes of the begin and end marks, for undo and redo: each entry is the two
// marks' text as they stood after one change.
#include <QString>
#include <cstddef>
#include <optional>
#include <vector>

namespace clipwren {

struct MarkTexts {
    QString begin;
    QString end;
    bool operator==(const MarkTexts&) const = default;
};

class MarkHistory {
public:
    // Forgets every change: `now` is where the marks stand (a newly loaded sound).
    void reset(const MarkTexts& now) {
        entries_ = {now};
        current_ = 0;
    }
    // The marks after a change; nothing happens when they stand where they stood. Changes
    // undone before are gone.
    void record(const MarkTexts& now) {
        if (entries_.empty()) return reset(now);
        if (entries_[current_] == now) return;
        entries_.resize(current_ + 1);
        entries_.push_back(now);
        // Enough to step back through a session's fine-tuning; older steps are dropped.
        if (entries_.size() > kMaxEntries) entries_.erase(entries_.begin());
        current_ = entries_.size() - 1;
    }
    // Where the marks stood before the current change / after the next one undone.
    std::optional<MarkTexts> undo() {
        if (current_ == 0 || entries_.empty()) return std::nullopt;
        return entries_[--current_];
    }
    std::optional<MarkTexts> redo() {
        if (current_ + 1 >= entries_.size()) return std::nullopt;
        return entries_[++current_];
    }

private:
    static constexpr size_t kMaxEntries = 200;
    std::vector<MarkTexts> entries_;
    size_t current_ = 0;
};

}  // namespace clipwren
