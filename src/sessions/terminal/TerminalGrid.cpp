#include "sessions/terminal/TerminalGrid.h"

#include <algorithm>
#include <cstring>

namespace {

inline void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

inline char* writeUtf8(char* w, uint32_t c) {
    if (c < 0x800) {
        *w++ = char(0xC0 | (c >> 6));
        *w++ = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *w++ = char(0xE0 | (c >> 12));
        *w++ = char(0x80 | ((c >> 6) & 0x3F));
        *w++ = char(0x80 | (c & 0x3F));
    } else {
        *w++ = char(0xF0 | (c >> 18));
        *w++ = char(0x80 | ((c >> 12) & 0x3F));
        *w++ = char(0x80 | ((c >> 6) & 0x3F));
        *w++ = char(0x80 | (c & 0x3F));
    }
    return w;
}

// Room for a cell's combining marks in the encoding (six code points of four bytes, and a NUL).
constexpr size_t kMaxCombiningBytes = 6 * 4 + 1;

// Decodes one code point we encoded ourselves (always well formed).
inline uint32_t readUtf8(const unsigned char*& p) {
    uint32_t c = *p++;
    if (c < 0x80) return c;
    if (c < 0xE0) return ((c & 0x1F) << 6) | (*p++ & 0x3F);
    if (c < 0xF0) {
        uint32_t r = ((c & 0x0F) << 12) | ((p[0] & 0x3F) << 6) | (p[1] & 0x3F);
        p += 2;
        return r;
    }
    uint32_t r = ((c & 0x07) << 18) | ((p[0] & 0x3F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    p += 3;
    return r;
}

constexpr uint32_t kVisibleWhenBlank = TermCell::kReverse | TermCell::kUnderlineMask | TermCell::kStrike;

inline bool showsSomething(const TermCell& c) {
    return !c.isBlank() || !TermColor::isDefault(c.bg) || (c.chAttrs & kVisibleWhenBlank);
}

#pragma pack(push, 1)
struct RunHeader {
    uint32_t attrs;
    uint32_t fg;
    uint32_t bg;
    uint16_t count;  // stored cells (wide tails are implied)
};
#pragma pack(pop)
static_assert(sizeof(RunHeader) == 14);

constexpr uint32_t kRunAttrMask = TermCell::kAttrMask & ~TermCell::kProtected;

}  // namespace

// ---- TermRow

void TermRow::clear(uint32_t bg) {
    if (TermColor::isDefault(bg)) {
        std::fill(cells.begin(), cells.begin() + std::min<size_t>(extent, cells.size()), TermCell{});
        extent = 0;
    } else {
        std::fill(cells.begin(), cells.end(), TermCell{0, TermColor::kDefault, bg});
        extent = uint16_t(cells.size());
    }
    combining.reset();
    wrapped = false;
}

void TermRow::clearRange(int from, int to, uint32_t bg) {
    from = std::max(from, 0);
    to = std::min(to, int(cells.size()));
    if (from >= to) return;
    std::fill(cells.begin() + from, cells.begin() + to, TermCell{0, TermColor::kDefault, bg});
    if (!TermColor::isDefault(bg)) touched(to);
}

const std::u32string* TermRow::combiningAt(int col) const {
    if (!combining) return nullptr;
    for (const auto& [c, chars] : *combining)
        if (c == col) return &chars;
    return nullptr;
}

void TermRow::setCombining(int col, std::u32string chars) {
    if (!combining) combining = std::make_unique<std::vector<std::pair<uint16_t, std::u32string>>>();
    for (auto& entry : *combining) {
        if (entry.first == col) {
            entry.second = std::move(chars);
            return;
        }
    }
    combining->emplace_back(uint16_t(col), std::move(chars));
}

void TermRow::appendText(int col, std::u32string& out) const {
    const TermCell& cell = cells[size_t(col)];
    if (cell.isTail()) return;
    if (cell.chAttrs & TermCell::kCombined) {
        if (const std::u32string* chars = combiningAt(col)) {
            out += *chars;
            return;
        }
    }
    const uint32_t c = cell.ch();
    out.push_back(c == 0 ? U' ' : char32_t(c));
}

int TermRow::usedLength() const {
    int n = std::min(int(extent), int(cells.size()));
    while (n > 0 && !showsSomething(cells[size_t(n - 1)])) --n;
    return n;
}

// ---- TermScreenBuffer

void TermScreenBuffer::reset(int rows, int cols) {
    rows_ = rows;
    cols_ = cols;
    top_ = 0;
    ring_.clear();
    ring_.resize(size_t(rows));
    for (TermRow& r : ring_) {
        r.cells.assign(size_t(cols), TermCell{});
        r.extent = 0;
    }
}

void TermScreenBuffer::rotate(int n) {
    if (rows_ == 0) return;
    n %= rows_;
    if (n < 0) n += rows_;
    top_ = (top_ + n) % rows_;
}

void TermScreenBuffer::rotateRegion(int top, int bottom, int n) {
    const int height = bottom - top;
    if (height <= 0) return;
    n %= height;
    if (n < 0) n += height;
    if (n == 0) return;
    // Rotation by cycles over the logical rows: each row's storage moves once, no cell copies.
    int start = 0, moved = 0;
    while (moved < height) {
        int cur = start;
        TermRow tmp = std::move(row(top + cur));
        for (;;) {
            int next = cur + n;
            if (next >= height) next -= height;
            if (next == start) break;
            row(top + cur) = std::move(row(top + next));
            cur = next;
            ++moved;
        }
        row(top + cur) = std::move(tmp);
        ++moved;
        ++start;
    }
}

void TermScreenBuffer::adopt(std::vector<TermRow>&& rows, int cols) {
    ring_ = std::move(rows);
    rows_ = int(ring_.size());
    cols_ = cols;
    top_ = 0;
}

std::vector<TermRow> TermScreenBuffer::takeRows() {
    std::vector<TermRow> out;
    out.reserve(size_t(rows_));
    for (int r = 0; r < rows_; ++r) out.push_back(std::move(row(r)));
    ring_.clear();
    rows_ = 0;
    top_ = 0;
    return out;
}

// ---- TermScrollback

TermScrollback::TermScrollback(int limit) : limit_(std::max(limit, 0)) {}

void TermScrollback::setLimit(int limit) {
    limit = std::max(limit, 0);
    if (limit == limit_) return;
    // Keep the newest lines, in order.
    const size_t keep = std::min(size_, size_t(limit));
    std::vector<std::string> lines;
    lines.reserve(keep);
    for (size_t i = size_ - keep; i < size_; ++i)
        lines.push_back(std::move(ring_[(head_ + i) % ring_.size()]));
    ring_ = std::move(lines);
    head_ = 0;
    size_ = keep;
    limit_ = limit;
}

void TermScrollback::clear() {
    ring_.clear();
    head_ = 0;
    size_ = 0;
}

void TermScrollback::push(const TermRow& row, int cols) {
    if (limit_ == 0) return;
    std::string* slot;
    if (size_ < size_t(limit_)) {
        if (ring_.size() < size_t(limit_) && head_ == 0) {
            ring_.emplace_back();
            slot = &ring_.back();
        } else {
            slot = &ring_[(head_ + size_) % ring_.size()];
        }
        ++size_;
    } else {
        // Full: the oldest slot is reused, its capacity too.
        slot = &ring_[head_];
        head_ = (head_ + 1) % ring_.size();
    }
    encode(row, cols, *slot);
}

bool TermScrollback::popNewest(TermRow& into, int cols) {
    if (size_ == 0) return false;
    std::string& line = ring_[(head_ + size_ - 1) % ring_.size()];
    decodeLine(line, into, cols);
    std::string().swap(line);
    --size_;
    if (size_ == 0) head_ = 0;
    if (head_ == 0 && ring_.size() == size_ + 1) ring_.pop_back();
    return true;
}

void TermScrollback::decode(int index, TermRow& into, int cols) const {
    decodeLine(at(size_t(index)), into, cols);
}

bool TermScrollback::isWrapped(int index) const {
    const std::string& line = at(size_t(index));
    return !line.empty() && (line[0] & 1);
}

size_t TermScrollback::memoryBytes() const {
    size_t total = ring_.capacity() * sizeof(std::string);
    for (const std::string& s : ring_)
        if (s.capacity() > 15) total += s.capacity() + 1;
    return total;
}

void TermScrollback::encode(const TermRow& row, int cols, std::string& out) {
    const int n = std::min(row.usedLength(), cols);
    const TermCell* cells = row.cells.data();
    // Worst case: a run header per cell and four UTF-8 bytes per code point.
    thread_local std::vector<char> buffer;
    size_t need = 1 + size_t(n) * (sizeof(RunHeader) + 4);
    if (row.combining) need += row.combining->size() * kMaxCombiningBytes;
    if (buffer.size() < need) buffer.resize(need);
    char* const begin = buffer.data();
    char* w = begin;
    *w++ = row.wrapped ? 1 : 0;
    int i = 0;
    while (i < n) {
        const uint32_t attrs = cells[i].chAttrs & kRunAttrMask;
        const uint32_t fg = cells[i].fg, bg = cells[i].bg;
        char* header = w;
        w += sizeof(RunHeader);
        uint16_t count = 0;
        const bool combined = attrs & TermCell::kCombined;
        while (i < n) {
            const TermCell& c = cells[i];
            if (c.isTail()) {  // belongs to the wide cell before it
                ++i;
                continue;
            }
            if ((c.chAttrs & kRunAttrMask) != attrs || c.fg != fg || c.bg != bg || count == 0xFFFF) break;
            const uint32_t ch = c.ch();
            if (combined) {
                std::u32string text;
                row.appendText(i, text);
                std::string utf8;
                for (char32_t x : text) appendUtf8(utf8, x ? uint32_t(x) : ' ');
                std::memcpy(w, utf8.data(), utf8.size());
                w += utf8.size();
                *w++ = '\0';
            } else if (ch < 0x80) {
                *w++ = ch == 0 ? ' ' : char(ch);
            } else {
                w = writeUtf8(w, ch);
            }
            ++count;
            ++i;
        }
        RunHeader h{attrs, fg, bg, count};
        std::memcpy(header, &h, sizeof h);
    }
    const size_t size = size_t(w - begin);
    // The slot's old capacity is reused; only a much larger one is given back.
    if (out.capacity() > size * 2 + 256) std::string().swap(out);
    out.assign(begin, size);
}

void TermScrollback::decodeLine(const std::string& line, TermRow& into, int cols) {
    into.cells.assign(size_t(cols), TermCell{});
    into.combining.reset();
    into.wrapped = !line.empty() && (line[0] & 1);
    into.extent = uint16_t(cols);
    const auto* p = reinterpret_cast<const unsigned char*>(line.data()) + 1;
    const auto* end = reinterpret_cast<const unsigned char*>(line.data()) + line.size();
    int col = 0;
    while (p < end) {
        RunHeader h;
        std::memcpy(&h, p, sizeof h);
        p += sizeof h;
        const bool combined = h.attrs & TermCell::kCombined;
        const bool wide = h.attrs & TermCell::kWide;
        for (uint16_t k = 0; k < h.count; ++k) {
            uint32_t ch;
            std::u32string chars;
            if (combined) {
                while (*p) chars.push_back(char32_t(readUtf8(p)));
                ++p;
                ch = chars.empty() ? ' ' : uint32_t(chars[0]);
            } else {
                ch = readUtf8(p);
            }
            if (col >= cols) continue;
            if (wide && col + 1 >= cols) {  // a wide character cut by the right edge
                into.cells[size_t(col)] = TermCell{0, TermColor::kDefault, h.bg};
                ++col;
                continue;
            }
            into.cells[size_t(col)] = TermCell{ch | h.attrs, h.fg, h.bg};
            if (combined && chars.size() > 1) into.setCombining(col, std::move(chars));
            else if (combined) into.cells[size_t(col)].chAttrs &= ~TermCell::kCombined;
            ++col;
            if (wide) into.cells[size_t(col++)] = TermCell{TermCell::kWideTail | h.attrs, h.fg, h.bg};
        }
    }
}
