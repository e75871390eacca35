#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The terminal's screen model: compact cells, rows kept in a ring so that a full-screen scroll
// only moves an offset, and a scroll-back of trimmed lines with attribute runs.

// A colour as the program asked for it: default, one of the 256 indexed colours, or RGB.
// Resolved to pixels only when drawing, so palette changes apply to what is on screen.
namespace TermColor {
constexpr uint32_t kDefault = 0;
constexpr uint32_t kIndexedTag = 0x01000000u;
constexpr uint32_t kRgbTag = 0x02000000u;
constexpr uint32_t kTagMask = 0xFF000000u;
constexpr uint32_t indexed(uint8_t index) { return kIndexedTag | index; }
constexpr uint32_t rgb(uint8_t r, uint8_t g, uint8_t b) {
    return kRgbTag | (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}
constexpr bool isDefault(uint32_t c) { return (c & kTagMask) == 0; }
constexpr bool isIndexed(uint32_t c) { return (c & kTagMask) == kIndexedTag; }
constexpr bool isRgb(uint32_t c) { return (c & kTagMask) == kRgbTag; }
}  // namespace TermColor

// One cell, 12 bytes: the code point in the low 21 bits of `chAttrs`, attribute flags above.
struct TermCell {
    enum : uint32_t {
        kCharMask = 0x001FFFFFu,
        kBold = 1u << 21,
        kItalic = 1u << 22,
        kUnderlineShift = 23,  // two bits: off, single, double, curly
        kUnderlineMask = 3u << 23,
        kBlink = 1u << 25,
        kReverse = 1u << 26,
        kStrike = 1u << 27,
        kDim = 1u << 28,
        kWide = 1u << 29,       // left half of a double-width character
        kCombined = 1u << 30,   // further code points in the row's combining table
        kProtected = 1u << 31,  // DECSCA: survives selective erase
        kAttrMask = ~kCharMask,
    };
    // The right half of a double-width character.
    static constexpr uint32_t kWideTail = 0x001FFFFFu;

    uint32_t chAttrs = 0;
    uint32_t fg = TermColor::kDefault;
    uint32_t bg = TermColor::kDefault;

    uint32_t ch() const { return chAttrs & kCharMask; }
    uint32_t attrs() const { return chAttrs & kAttrMask; }
    bool isTail() const { return ch() == kWideTail; }
    bool isBlank() const { uint32_t c = ch(); return c == 0 || c == ' '; }
    int underline() const { return int((chAttrs & kUnderlineMask) >> kUnderlineShift); }
    bool operator==(const TermCell&) const = default;
};
static_assert(sizeof(TermCell) == 12);

struct TermRow {
    std::vector<TermCell> cells;
    // Base code point plus combining marks for the cells flagged kCombined (rare, so kept aside).
    std::unique_ptr<std::vector<std::pair<uint16_t, std::u32string>>> combining;
    bool wrapped = false;  // the text runs on into the next row (soft wrap)
    // No cell at or beyond this column shows anything (an upper bound, kept by the writers).
    uint16_t extent = 0;

    void clear(uint32_t bg);
    void clearRange(int from, int to, uint32_t bg);
    void touched(int end) {
        if (end > extent) extent = uint16_t(end);
    }
    const std::u32string* combiningAt(int col) const;
    void setCombining(int col, std::u32string chars);
    // Code points of cell `col` appended to `out` (nothing for blanks and wide tails).
    void appendText(int col, std::u32string& out) const;
    // Cells up to the last one that shows something (trailing default blanks dropped).
    int usedLength() const;
};

// The rows of one screen buffer in a ring: row(0) is the top of the screen.
class TermScreenBuffer {
public:
    void reset(int rows, int cols);
    int rows() const { return rows_; }
    int cols() const { return cols_; }
    TermRow& row(int r) { return ring_[physical(r)]; }
    const TermRow& row(int r) const { return ring_[physical(r)]; }
    // Rotates the whole ring by n rows (n > 0: content moves up). The rows that come in at the
    // other end still hold their old content; the caller clears or refills them.
    void rotate(int n);
    // Rotates rows [top, bottom) by n inside a scroll region (swaps row storage, no cell copies).
    void rotateRegion(int top, int bottom, int n);
    // Rebuilds with new dimensions; rows are given in order from `source` (moved).
    void adopt(std::vector<TermRow>&& rows, int cols);
    std::vector<TermRow> takeRows();

private:
    int physical(int r) const { int i = top_ + r; return i >= rows_ ? i - rows_ : i; }
    std::vector<TermRow> ring_;
    int rows_ = 0;
    int cols_ = 0;
    int top_ = 0;
};

// Lines that scrolled off the top, oldest first, each stored trimmed as attribute runs over
// UTF-8 text: about a tenth of the size of the cells it came from.
class TermScrollback {
public:
    explicit TermScrollback(int limit = 10000);
    void setLimit(int limit);
    int limit() const { return limit_; }
    int size() const { return int(size_); }
    void clear();

    void push(const TermRow& row, int cols);
    // Takes the newest line back (for a screen that grows taller); false when empty.
    bool popNewest(TermRow& into, int cols);
    // Line `index` (0 = oldest) as `cols` cells.
    void decode(int index, TermRow& into, int cols) const;
    bool isWrapped(int index) const;
    size_t memoryBytes() const;

private:
    const std::string& at(size_t index) const { return ring_[(head_ + index) % ring_.size()]; }
    static void encode(const TermRow& row, int cols, std::string& out);
    static void decodeLine(const std::string& line, TermRow& into, int cols);

    std::vector<std::string> ring_;
    size_t head_ = 0;
    size_t size_ = 0;
    int limit_ = 0;
};
