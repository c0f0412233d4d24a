// winfs::path's iterator: the root name, the root directory, then each name.
#include "pathprobe/winfs/path.h"

#include "text/path_grammar.h"

namespace winfs {

using namespace grammar;

path::iterator path::begin() const {
    const std::string_view text = text_;
    if (text.empty()) return end();
    const size_type rootName = rootNameEnd(text);
    const size_type relative = skipSeparators(text, rootName);
    const size_type last = rootName != 0   ? rootName
                           : relative != 0 ? relative
                                           : findSeparator(text, 0);
    return iterator(this, 0, last, rootName, relative);
}

path::iterator path::end() const {
    return iterator(this, iterator::npos, iterator::npos, iterator::npos, iterator::npos);
}

path::iterator::iterator(const path* owner, size_type first, size_type last, size_type rootName,
                         size_type relative)
    : owner_(owner), first_(first), last_(last), rootName_(rootName), relative_(relative) {
    load();
}

void path::iterator::load() {
    if (first_ == npos) {
        element_.clear();
        return;
    }
    // Assigning in place keeps the element's buffer from step to step.
    element_.text_.assign(owner_->text_, first_, last_ - first_);
}

path::iterator& path::iterator::operator++() {
    const std::string_view text = owner_->text_;
    size_type next;
    if (first_ == text.size()) {
        next = npos;  // past the empty element after a trailing separator
    } else if (first_ < relative_) {
        // From the root name to the root directory, or from either to the first name.
        if (last_ == rootName_ && rootName_ != 0 && relative_ > rootName_) {
            first_ = rootName_;
            last_ = relative_;
            load();
            return *this;
        }
        next = relative_;
    } else {
        next = skipSeparators(text, last_);
        if (next == text.size() && last_ < text.size()) {
            first_ = last_ = text.size();  // "a" ends in an empty element
            load();
            return *this;
        }
    }
    if (next >= text.size()) {
        first_ = last_ = npos;
    } else {
        first_ = next;
        last_ = findSeparator(text, next);
    }
    load();
    return *this;
}

path::iterator& path::iterator::operator--() {
    const std::string_view text = owner_->text_;
    if (rootName_ == npos) {
        rootName_ = rootNameEnd(text);
        relative_ = skipSeparators(text, rootName_);
    }
    size_type stop = first_;  // the element before ends here, separators included
    if (first_ == npos) {
        stop = text.size();
        if (stop > relative_ && isSeparator(text.back())) {
            first_ = last_ = stop;  // the empty element after a trailing separator
            load();
            return *this;
        }
    }
    if (stop > relative_) {
        // The relative part starts with a name, so a name lies between it and `stop`.
        size_type nameEnd = stop;
        while (isSeparator(text[nameEnd - 1]))
            --nameEnd;
        size_type nameStart = nameEnd;
        while (nameStart > relative_ && !isSeparator(text[nameStart - 1]))
            --nameStart;
        first_ = nameStart;
        last_ = nameEnd;
    } else if (stop == relative_ && relative_ > rootName_) {
        first_ = rootName_;
        last_ = relative_;
    } else {
        first_ = 0;
        last_ = rootName_;
    }
    load();
    return *this;
}

}  // namespace winfs
