#include "sessions/terminal/TerminalSurface.h"

#include "sessions/terminal/PtyProcess.h"

#include <vterm.h>

#include <algorithm>
#include <cstring>
#include <sys/wait.h>

namespace {

constexpr size_t kMaxHeldSequence = 64 * 1024;

uint32_t packColor(const VTermColor& c) {
    if (c.type & (VTERM_COLOR_DEFAULT_FG | VTERM_COLOR_DEFAULT_BG)) return TermColor::kDefault;
    if (VTERM_COLOR_IS_INDEXED(&c)) return TermColor::indexed(c.indexed.idx);
    return TermColor::rgb(c.rgb.red, c.rgb.green, c.rgb.blue);
}

VTermModifier toVTermModifier(Qt::KeyboardModifiers m) {
    int mod = VTERM_MOD_NONE;
    if (m & Qt::ShiftModifier) mod |= VTERM_MOD_SHIFT;
    if (m & Qt::AltModifier) mod |= VTERM_MOD_ALT;
    if (m & Qt::ControlModifier) mod |= VTERM_MOD_CTRL;
    return VTermModifier(mod);
}

QByteArray colorReply(int code, const QByteArray& index, uint32_t rgb) {
    auto hex = [](uint32_t v) { return QByteArray::number(v * 0x101, 16).rightJustified(4, '0'); };
    QByteArray out = "\x1b]" + QByteArray::number(code) + ';';
    if (!index.isEmpty()) out += index + ';';
    out += "rgb:" + hex((rgb >> 16) & 0xFF) + '/' + hex((rgb >> 8) & 0xFF) + '/' + hex(rgb & 0xFF) + "\x1b\\";
    return out;
}

}  // namespace

struct TerminalSurface::Impl {
    TerminalSurface* q;
    VTerm* vt = nullptr;
    VTermState* state = nullptr;

    // The pen for new glyphs and erased cells.
    uint32_t penAttrs = 0;
    uint32_t penFg = TermColor::kDefault;
    uint32_t penBg = TermColor::kDefault;

    // The last glyph filled the row's last cell: a glyph at column 0 of the next row right
    // after it means the line wrapped (libvterm 0.1.4 does not say so).
    int wrapRow = -1;
    int wrapCol = -1;

    bool capturing = false;
    QByteArray captured;

    // An escape sequence cut by the end of a read waits here for the rest: libvterm 0.1.4
    // loses the first part of a split OSC or DCS string.
    QByteArray held;
    bool inOverlongString = false;

    int pixelWidth = 0;
    int pixelHeight = 0;

    explicit Impl(TerminalSurface* surface) : q(surface) {}

    void clearCells(TermRow& row, int from, int to) {
        row.clearRange(from, to, penBg);
    }

    static int putglyph(VTermGlyphInfo* info, VTermPos pos, void* user);
    int putComplexGlyph(VTermGlyphInfo* info, TermRow& row, int col);
    static int movecursor(VTermPos pos, VTermPos oldpos, int visible, void* user);
    static int scrollrect(VTermRect rect, int downward, int rightward, void* user);
    static int moverect(VTermRect dest, VTermRect src, void* user);
    static int erase(VTermRect rect, int selective, void* user);
    static int initpen(void* user);
    static int setpenattr(VTermAttr attr, VTermValue* val, void* user);
    static int settermprop(VTermProp prop, VTermValue* val, void* user);
    static int bell(void* user);
    static int resize(int rows, int cols, VTermPos* delta, void* user);
    static int osc(const char* command, size_t cmdlen, void* user);
    static int csi(const char* leader, const long args[], int argcount, const char* intermed, char command,
                   void* user);
    static void output(const char* s, size_t len, void* user);

    void resizeBuffer(TermScreenBuffer& buf, int newRows, int newCols, bool active, int cursorRow,
                      VTermPos* delta);
};

// ---- libvterm callbacks

int TerminalSurface::Impl::putglyph(VTermGlyphInfo* info, VTermPos pos, void* user) {
    Impl* d = static_cast<Impl*>(user);
    TerminalSurface* q = d->q;
    const int cols = q->cols_;
    const int col = pos.col;
    if (unsigned(col) >= unsigned(cols) || unsigned(pos.row) >= unsigned(q->rows_)) return 1;
    TermScreenBuffer& buf = *q->screen_;
    if (col == 0 && d->wrapRow >= 0 && d->wrapRow == pos.row - 1) buf.row(d->wrapRow).wrapped = true;

    TermRow& row = buf.row(pos.row);
    TermCell* cells = row.cells.data();
    const uint32_t ch = info->chars[0];
    int width = 1;
    if (info->width == 1 && !info->chars[1] && !info->protected_cell && ch < TermCell::kWideTail &&
        !(cells[col].chAttrs & TermCell::kWide)) {
        // The common case: one narrow character over a narrow cell.
        cells[col] = TermCell{ch | d->penAttrs, d->penFg, d->penBg};
    } else {
        width = d->putComplexGlyph(info, row, col);
    }
    row.touched(col + width);
    q->markDirty(pos.row, kRepaint | kContentChanged);
    if (col + width >= cols) {
        d->wrapRow = pos.row;
        d->wrapCol = col;
    } else {
        d->wrapRow = -1;
    }
    return 1;
}

// Wide characters, combining marks, protected cells and overwriting half of a wide character.
int TerminalSurface::Impl::putComplexGlyph(VTermGlyphInfo* info, TermRow& row, int col) {
    const int cols = q->cols_;
    TermCell* cells = row.cells.data();
    const int width = info->width == 2 ? 2 : 1;
    TermCell& cell = cells[col];
    // Half of a wide character overwritten: the other half becomes blank.
    if (cell.isTail()) {
        if (col > 0) cells[col - 1] = TermCell{0, TermColor::kDefault, cells[col - 1].bg};
    } else if ((cell.chAttrs & TermCell::kWide) && width == 1 && col + 1 < cols) {
        cells[col + 1] = TermCell{0, TermColor::kDefault, cells[col + 1].bg};
    }

    uint32_t attrs = penAttrs;
    if (info->protected_cell) attrs |= TermCell::kProtected;
    uint32_t ch = info->chars[0];
    if (ch >= TermCell::kWideTail) ch = 0xFFFD;
    if (info->chars[1]) {
        std::u32string chars;
        for (int k = 0; k < VTERM_MAX_CHARS_PER_CELL && info->chars[k]; ++k) chars.push_back(char32_t(info->chars[k]));
        row.setCombining(col, std::move(chars));
        attrs |= TermCell::kCombined;
    }
    if (width == 2) attrs |= TermCell::kWide;
    cell = TermCell{ch | attrs, penFg, penBg};
    if (width == 2 && col + 1 < cols) {
        TermCell& tail = cells[col + 1];
        if ((tail.chAttrs & TermCell::kWide) && !tail.isTail() && col + 2 < cols)
            cells[col + 2] = TermCell{0, TermColor::kDefault, cells[col + 2].bg};
        tail = TermCell{TermCell::kWideTail | attrs, penFg, penBg};
    }
    return width;
}

int TerminalSurface::Impl::movecursor(VTermPos pos, VTermPos oldpos, int visible, void* user) {
    Impl* d = static_cast<Impl*>(user);
    TerminalSurface* q = d->q;
    q->cursorRow_ = pos.row;
    q->cursorCol_ = pos.col;
    q->cursorVisible_ = visible;
    if (oldpos.row >= 0 && oldpos.row < q->rows_) q->markDirty(oldpos.row, kRepaint);
    if (pos.row >= 0 && pos.row < q->rows_) q->markDirty(pos.row, kRepaint);
    if (d->wrapRow >= 0 && !(pos.row == d->wrapRow && pos.col == d->wrapCol)) d->wrapRow = -1;
    return 1;
}

int TerminalSurface::Impl::scrollrect(VTermRect rect, int downward, int rightward, void* user) {
    Impl* d = static_cast<Impl*>(user);
    TerminalSurface* q = d->q;
    const int rows = q->rows_, cols = q->cols_;
    rect.end_row = std::min(rect.end_row, rows);
    rect.end_col = std::min(rect.end_col, cols);
    if (rightward != 0 || rect.start_col != 0 || rect.end_col != cols) {
        vterm_scroll_rect(rect, downward, rightward, &Impl::moverect, &Impl::erase, user);
        return 1;
    }
    const int top = rect.start_row, bottom = rect.end_row, height = bottom - top;
    if (height <= 0 || downward == 0) return 1;
    TermScreenBuffer& buf = *q->screen_;
    const int n = std::clamp(downward, -height, height);
    if (n > 0) {
        // Lines leaving the top of a region that starts at the top go to the scroll-back.
        if (top == 0 && q->screen_ == &q->primary_) {
            for (int k = 0; k < n; ++k) q->scrollback_.push(buf.row(k), cols);
            q->linesPushed_ += n;
        }
        if (top == 0 && bottom == rows) buf.rotate(n);
        else buf.rotateRegion(top, bottom, n);
        for (int r = bottom - n; r < bottom; ++r) buf.row(r).clear(d->penBg);
        for (int r = bottom - n; r < bottom; ++r) q->damage_[size_t(r)] |= kContentChanged;
    } else {
        if (top == 0 && bottom == rows) buf.rotate(n);
        else buf.rotateRegion(top, bottom, n);
        for (int r = top; r < top - n; ++r) buf.row(r).clear(d->penBg);
        for (int r = top; r < top - n; ++r) q->damage_[size_t(r)] |= kContentChanged;
    }
    for (int r = top; r < bottom; ++r) q->markDirty(r, kRepaint);
    if (top == 0 && bottom == rows) q->scrolled_ += n;
    if (d->wrapRow >= top && d->wrapRow < bottom) {
        d->wrapRow -= n;
        if (d->wrapRow < top || d->wrapRow >= bottom) d->wrapRow = -1;
    }
    return 1;
}

int TerminalSurface::Impl::moverect(VTermRect dest, VTermRect src, void* user) {
    Impl* d = static_cast<Impl*>(user);
    TerminalSurface* q = d->q;
    const int width = src.end_col - src.start_col;
    const int height = src.end_row - src.start_row;
    if (width <= 0 || height <= 0) return 1;
    // Rows in an order that never reads a row already written.
    const bool upward = dest.start_row <= src.start_row;
    for (int k = 0; k < height; ++k) {
        const int i = upward ? k : height - 1 - k;
        const int sr = src.start_row + i, dr = dest.start_row + i;
        if (sr >= q->rows_ || dr >= q->rows_) continue;
        TermRow& from = q->screen_->row(sr);
        TermRow& to = q->screen_->row(dr);
        if (&from == &to) {
            std::memmove(to.cells.data() + dest.start_col, from.cells.data() + src.start_col,
                         size_t(width) * sizeof(TermCell));
        } else {
            std::memcpy(to.cells.data() + dest.start_col, from.cells.data() + src.start_col,
                        size_t(width) * sizeof(TermCell));
            if (from.combining) {
                for (const auto& [col, chars] : *from.combining)
                    if (col >= src.start_col && col < src.end_col)
                        to.setCombining(col - src.start_col + dest.start_col, chars);
            }
        }
        to.touched(dest.end_col);
        q->markDirty(dr, kRepaint | kContentChanged);
    }
    return 1;
}

int TerminalSurface::Impl::erase(VTermRect rect, int selective, void* user) {
    Impl* d = static_cast<Impl*>(user);
    TerminalSurface* q = d->q;
    const int cols = q->cols_;
    const int endRow = std::min(rect.end_row, q->rows_);
    const int endCol = std::min(rect.end_col, cols);
    for (int r = std::max(rect.start_row, 0); r < endRow; ++r) {
        TermRow& row = q->screen_->row(r);
        TermCell* cells = row.cells.data();
        if (rect.start_col == 0 && endCol == cols && !selective) {
            row.clear(d->penBg);
        } else {
            for (int c = rect.start_col; c < endCol; ++c) {
                if (selective && (cells[c].chAttrs & TermCell::kProtected)) continue;
                cells[c] = TermCell{0, TermColor::kDefault, d->penBg};
            }
            if (!TermColor::isDefault(d->penBg)) row.touched(endCol);
            // Never leave half of a wide character behind.
            if (rect.start_col > 0 && rect.start_col < cols && cells[rect.start_col - 1].attrs() & TermCell::kWide &&
                !cells[rect.start_col - 1].isTail())
                cells[rect.start_col - 1] = TermCell{0, TermColor::kDefault, cells[rect.start_col - 1].bg};
            if (endCol < cols && cells[endCol].isTail()) cells[endCol] = TermCell{0, TermColor::kDefault, cells[endCol].bg};
            if (endCol >= cols) row.wrapped = false;
        }
        q->markDirty(r, kRepaint | kContentChanged);
    }
    return 1;
}

int TerminalSurface::Impl::initpen(void* user) {
    Impl* d = static_cast<Impl*>(user);
    d->penAttrs = 0;
    d->penFg = TermColor::kDefault;
    d->penBg = TermColor::kDefault;
    return 1;
}

int TerminalSurface::Impl::setpenattr(VTermAttr attr, VTermValue* val, void* user) {
    Impl* d = static_cast<Impl*>(user);
    auto setFlag = [d](uint32_t flag, bool on) {
        if (on) d->penAttrs |= flag;
        else d->penAttrs &= ~flag;
    };
    switch (attr) {
    case VTERM_ATTR_BOLD:
        setFlag(TermCell::kBold, val->boolean);
        // SGR 22 and SGR 0 end faint text too; SGR 2 itself is found by the stream scanner.
        if (!val->boolean) d->penAttrs &= ~TermCell::kDim;
        break;
    case VTERM_ATTR_UNDERLINE:
        d->penAttrs = (d->penAttrs & ~TermCell::kUnderlineMask) |
                      ((uint32_t(std::clamp(val->number, 0, 3)) << TermCell::kUnderlineShift) & TermCell::kUnderlineMask);
        break;
    case VTERM_ATTR_ITALIC: setFlag(TermCell::kItalic, val->boolean); break;
    case VTERM_ATTR_BLINK: setFlag(TermCell::kBlink, val->boolean); break;
    case VTERM_ATTR_REVERSE: setFlag(TermCell::kReverse, val->boolean); break;
    case VTERM_ATTR_STRIKE: setFlag(TermCell::kStrike, val->boolean); break;
    case VTERM_ATTR_FOREGROUND: d->penFg = packColor(val->color); break;
    case VTERM_ATTR_BACKGROUND: d->penBg = packColor(val->color); break;
    default: break;
    }
    return 1;
}

int TerminalSurface::Impl::settermprop(VTermProp prop, VTermValue* val, void* user) {
    Impl* d = static_cast<Impl*>(user);
    TerminalSurface* q = d->q;
    switch (prop) {
    case VTERM_PROP_CURSORVISIBLE:
        q->cursorVisible_ = val->boolean;
        if (q->cursorRow_ < q->rows_) q->markDirty(q->cursorRow_, kRepaint);
        break;
    case VTERM_PROP_CURSORBLINK: q->cursorBlink_ = val->boolean; break;
    case VTERM_PROP_ALTSCREEN: {
        TermScreenBuffer* next = val->boolean ? &q->alt_ : &q->primary_;
        if (next != q->screen_) {
            q->screen_ = next;
            d->wrapRow = -1;
            q->markAllDirty(kRepaint | kContentChanged);
        }
        break;
    }
    case VTERM_PROP_TITLE:
        q->title_ = QString::fromUtf8(val->string ? val->string : "");
        if (q->onTitleChanged) q->onTitleChanged(q->title_);
        break;
    case VTERM_PROP_REVERSE:
        q->reverseVideo_ = val->boolean;
        q->markAllDirty(kRepaint);
        break;
    case VTERM_PROP_CURSORSHAPE:
        q->cursorShape_ = val->number == VTERM_PROP_CURSORSHAPE_UNDERLINE ? CursorShape::Underline
                          : val->number == VTERM_PROP_CURSORSHAPE_BAR_LEFT ? CursorShape::Bar
                                                                            : CursorShape::Block;
        if (q->cursorRow_ < q->rows_) q->markDirty(q->cursorRow_, kRepaint);
        break;
    case VTERM_PROP_MOUSE:
        q->mouseTracking_ = val->number == VTERM_PROP_MOUSE_CLICK  ? MouseTracking::Normal
                            : val->number == VTERM_PROP_MOUSE_DRAG ? MouseTracking::ButtonEvent
                            : val->number == VTERM_PROP_MOUSE_MOVE ? MouseTracking::AnyEvent
                                                                   : MouseTracking::Off;
        break;
    default: break;
    }
    return 1;
}

int TerminalSurface::Impl::bell(void* user) {
    TerminalSurface* q = static_cast<Impl*>(user)->q;
    if (q->onBell) q->onBell();
    return 1;
}

int TerminalSurface::Impl::resize(int rows, int cols, VTermPos* delta, void* user) {
    Impl* d = static_cast<Impl*>(user);
    TerminalSurface* q = d->q;
    VTermPos cursor;
    vterm_state_get_cursorpos(d->state, &cursor);
    const bool altActive = q->screen_ == &q->alt_;
    VTermPos ignored{0, 0};
    d->resizeBuffer(q->primary_, rows, cols, !altActive, cursor.row, altActive ? &ignored : delta);
    d->resizeBuffer(q->alt_, rows, cols, false, altActive ? cursor.row : rows - 1, altActive ? delta : &ignored);
    q->rows_ = rows;
    q->cols_ = cols;
    q->damage_.assign(size_t(rows), kRepaint | kContentChanged);
    d->wrapRow = -1;
    if (!q->damagePending_) {
        q->damagePending_ = true;
        if (q->onDamage) q->onDamage();
    }
    return 1;
}

void TerminalSurface::Impl::resizeBuffer(TermScreenBuffer& buf, int newRows, int newCols, bool active, int cursorRow,
                                         VTermPos* delta) {
    const int oldRows = buf.rows(), oldCols = buf.cols();
    std::vector<TermRow> rows = buf.takeRows();
    const bool primary = &buf == &q->primary_;

    if (newRows < oldRows) {
        // Blank rows below the cursor go first; then rows leave the top into the scroll-back.
        int firstBlank = oldRows;
        while (firstBlank > newRows && firstBlank - 1 != cursorRow && rows[size_t(firstBlank - 1)].usedLength() == 0)
            --firstBlank;
        const int leaving = std::max(0, firstBlank - newRows);
        if (primary) {
            for (int k = 0; k < leaving; ++k) q->scrollback_.push(rows[size_t(k)], oldCols);
            q->linesPushed_ += leaving;
        }
        rows.erase(rows.begin(), rows.begin() + leaving);
        rows.resize(size_t(newRows));
        delta->row -= leaving;
    }

    for (TermRow& row : rows) {
        if (newCols < oldCols) {
            if (row.cells[size_t(newCols - 1)].attrs() & TermCell::kWide && !row.cells[size_t(newCols - 1)].isTail())
                row.cells[size_t(newCols - 1)] = TermCell{0, TermColor::kDefault, row.cells[size_t(newCols - 1)].bg};
            if (row.combining) {
                auto& list = *row.combining;
                list.erase(std::remove_if(list.begin(), list.end(), [newCols](const auto& e) { return e.first >= newCols; }),
                           list.end());
            }
        }
        row.cells.resize(size_t(newCols), TermCell{});
        row.extent = uint16_t(std::min<int>(row.extent, newCols));
    }

    if (newRows > oldRows) {
        int added = newRows - oldRows;
        std::vector<TermRow> top;
        if (active && primary) {
            // Lines come back from the scroll-back, as far as it has them.
            while (added > 0 && q->scrollback_.size() > 0) {
                TermRow row;
                q->scrollback_.popNewest(row, newCols);
                top.push_back(std::move(row));
                --q->linesPushed_;
                --added;
                ++delta->row;
            }
        }
        std::vector<TermRow> merged;
        merged.reserve(size_t(newRows));
        for (auto it = top.rbegin(); it != top.rend(); ++it) merged.push_back(std::move(*it));
        for (TermRow& row : rows) merged.push_back(std::move(row));
        while (int(merged.size()) < newRows) {
            TermRow row;
            row.cells.assign(size_t(newCols), TermCell{});
            merged.push_back(std::move(row));
        }
        rows = std::move(merged);
    }
    buf.adopt(std::move(rows), newCols);
}

int TerminalSurface::Impl::osc(const char* command, size_t cmdlen, void* user) {
    Impl* d = static_cast<Impl*>(user);
    TerminalSurface* q = d->q;
    const QByteArray text(command, qsizetype(cmdlen));
    const QList<QByteArray> parts = text.split(';');
    bool ok = false;
    const int code = parts.value(0).toInt(&ok);
    if (!ok) return 0;
    // Programs ask for the colours to pick a light or dark theme of their own.
    if ((code == 10 || code == 11 || code == 12) && parts.value(1) == "?") {
        const uint32_t rgb = code == 10 ? q->defaultFg_ : code == 11 ? q->defaultBg_ : q->cursorColor_;
        const QByteArray reply = colorReply(code, {}, rgb);
        q->write(reply.constData(), size_t(reply.size()));
        return 1;
    }
    if (code == 4) {
        for (qsizetype i = 1; i + 1 < parts.size(); i += 2) {
            const int index = parts[i].toInt(&ok);
            if (ok && index >= 0 && index < 256 && parts[i + 1] == "?") {
                const QByteArray reply = colorReply(4, parts[i], q->palette_[size_t(index)]);
                q->write(reply.constData(), size_t(reply.size()));
            }
        }
        return 1;
    }
    return 0;
}

int TerminalSurface::Impl::csi(const char* leader, const long args[], int argcount, const char* intermed,
                               char command, void* user) {
    Impl* d = static_cast<Impl*>(user);
    TerminalSurface* q = d->q;
    if (command == 't' && !(leader && leader[0]) && !(intermed && intermed[0]) && argcount >= 1) {
        // Window size reports, in cells and in pixels.
        QByteArray reply;
        const long op = CSI_ARG(args[0]);
        if (op == 18) reply = "\x1b[8;" + QByteArray::number(q->rows_) + ';' + QByteArray::number(q->cols_) + 't';
        else if (op == 14 && d->pixelWidth > 0)
            reply = "\x1b[4;" + QByteArray::number(d->pixelHeight) + ';' + QByteArray::number(d->pixelWidth) + 't';
        if (!reply.isEmpty()) {
            q->write(reply.constData(), size_t(reply.size()));
            return 1;
        }
    }
    return 0;
}

void TerminalSurface::Impl::output(const char* s, size_t len, void* user) {
    Impl* d = static_cast<Impl*>(user);
    if (d->capturing) d->captured.append(s, qsizetype(len));
    else d->q->write(s, len);
}

namespace {

const VTermStateCallbacks kStateCallbacks = {
    &TerminalSurface::Impl::putglyph,   &TerminalSurface::Impl::movecursor, &TerminalSurface::Impl::scrollrect,
    &TerminalSurface::Impl::moverect,   &TerminalSurface::Impl::erase,      &TerminalSurface::Impl::initpen,
    &TerminalSurface::Impl::setpenattr, &TerminalSurface::Impl::settermprop, &TerminalSurface::Impl::bell,
    &TerminalSurface::Impl::resize,     nullptr,
};

const VTermParserCallbacks kFallbacks = {
    nullptr, nullptr, nullptr, &TerminalSurface::Impl::csi, &TerminalSurface::Impl::osc, nullptr, nullptr,
};

}  // namespace

// ---- TerminalSurface

TerminalSurface::TerminalSurface(int columns, int rows, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(this)), cols_(std::max(columns, 1)), rows_(std::max(rows, 1)) {
    static const uint32_t ansi[16] = {0x000000, 0xCD3131, 0x0DBC79, 0xE5E510, 0x2472C8, 0xBC3FBC, 0x11A8CD, 0xE5E5E5,
                                      0x666666, 0xF14C4C, 0x23D18B, 0xF5F543, 0x3B8EEA, 0xD670D6, 0x29B8DB, 0xFFFFFF};
    for (int i = 0; i < 16; ++i) palette_[size_t(i)] = ansi[i];
    static const int levels[6] = {0, 95, 135, 175, 215, 255};
    for (int i = 0; i < 216; ++i)
        palette_[size_t(16 + i)] = uint32_t(levels[i / 36] << 16 | levels[(i / 6) % 6] << 8 | levels[i % 6]);
    for (int i = 0; i < 24; ++i) {
        const uint32_t v = uint32_t(8 + 10 * i);
        palette_[size_t(232 + i)] = v << 16 | v << 8 | v;
    }

    primary_.reset(rows_, cols_);
    alt_.reset(rows_, cols_);
    damage_.assign(size_t(rows_), kRepaint);

    d_->vt = vterm_new(rows_, cols_);
    vterm_set_utf8(d_->vt, 1);
    vterm_output_set_callback(d_->vt, &Impl::output, d_.get());
    d_->state = vterm_obtain_state(d_->vt);
    vterm_state_set_callbacks(d_->state, &kStateCallbacks, d_.get());
    vterm_state_set_unrecognised_fallbacks(d_->state, &kFallbacks, d_.get());
    vterm_state_reset(d_->state, 1);
}

TerminalSurface::~TerminalSurface() {
    onReceived = nullptr;
    onSent = nullptr;
    onProcessEnded = nullptr;
    onDamage = nullptr;
    delete pty_;
    pty_ = nullptr;
    vterm_free(d_->vt);
}

bool TerminalSurface::startProcess(const QString& executable, const QStringList& arguments,
                                   const QStringList& environment, const QString& workingDirectory) {
    if (pty_ && pty_->isRunning()) {
        error_ = QStringLiteral("the terminal is already running a child process");
        return false;
    }
    if (pty_) {
        // The previous child has ended (a shell tab starting its shell again): drop its terminal.
        pty_->onData = nullptr;
        pty_->onFinished = nullptr;
        pty_->deleteLater();
        pty_ = nullptr;
    }
    auto* pty = new PtyProcess(this);
    pty->onData = [this](const char* data, size_t size) {
        if (onReceived) onReceived(QByteArrayView(data, qsizetype(size)));
        feed(QByteArrayView(data, qsizetype(size)));
    };
    pty->onFinished = [this](int status) { processEnded(status); };
    if (!pty->start(executable, arguments, environment, workingDirectory,
                    {cols_, rows_, d_->pixelWidth, d_->pixelHeight})) {
        error_ = pty->errorString();
        delete pty;
        return false;
    }
    pty_ = pty;
    error_.clear();
    exitCode_.reset();
    termSignal_ = 0;
    return true;
}

void TerminalSurface::terminate() {
    if (pty_) pty_->terminate();
}

bool TerminalSurface::isRunning() const {
    return pty_ && pty_->isRunning();
}

qint64 TerminalSurface::processId() const {
    return pty_ ? qint64(pty_->pid()) : -1;
}

void TerminalSurface::processEnded(int status) {
    if (WIFEXITED(status)) {
        exitCode_ = WEXITSTATUS(status);
    } else {
        exitCode_.reset();
        if (WIFSIGNALED(status)) termSignal_ = WTERMSIG(status);
    }
    if (onProcessEnded) onProcessEnded(exitCode_);
}

void TerminalSurface::write(const char* data, size_t size) {
    if (size == 0) return;
    if (onSent) onSent(QByteArrayView(data, qsizetype(size)));
    if (pty_) pty_->write(data, size);
}

void TerminalSurface::damageStarted() {
    damagePending_ = true;
    if (onDamage) onDamage();
}

void TerminalSurface::markAllDirty(uint8_t bits) {
    for (uint8_t& b : damage_) b |= bits;
    if (!damagePending_) {
        damagePending_ = true;
        if (onDamage) onDamage();
    }
}

void TerminalSurface::takeDamage() {
    std::fill(damage_.begin(), damage_.end(), uint8_t(0));
    damagePending_ = false;
    scrolled_ = 0;
}

// ---- Feeding: the stream scanner

void TerminalSurface::feed(QByteArrayView bytes) {
    const char* p = bytes.data();
    size_t n = size_t(bytes.size());
    // A held sequence is completed from the front of the new bytes, a little at a time (twice
    // as much each round), so the rest of the read is not copied.
    while (!d_->held.isEmpty() && n > 0) {
        const size_t take = std::min(n, std::max<size_t>(64, size_t(d_->held.size())));
        QByteArray joined = std::move(d_->held);
        d_->held = QByteArray();
        joined.append(p, qsizetype(take));
        p += take;
        n -= take;
        feedScanned(joined.constData(), size_t(joined.size()));
    }
    if (n > 0) feedScanned(p, n);
}

namespace {

// Whether an SGR's parameters leave faint on (SGR 2 not undone by a later 0 or 22). Colour
// arguments (38;5;n, 38;2;r;g;b and the colon forms) are skipped, their 2s are not SGR 2.
bool faintAfterSgr(const char* p, size_t n) {
    struct Param {
        int value;
        bool sub;
    };
    Param params[32];
    int count = 0;
    int value = -1;
    bool sub = false;
    for (size_t k = 0; k < n; ++k) {
        const char b = p[k];
        if (b >= '0' && b <= '9') {
            value = (value < 0 ? 0 : value) * 10 + (b - '0');
            if (value > 65535) value = 65535;
        } else if (b == ';' || b == ':') {
            if (count < 32) params[count++] = {value, sub};
            value = -1;
            sub = b == ':';
        } else {
            return false;  // a private marker or an intermediate: not a plain SGR
        }
    }
    if (count < 32) params[count++] = {value, sub};
    bool faint = false;
    for (int k = 0; k < count; ++k) {
        if (params[k].sub) continue;
        const int v = params[k].value < 0 ? 0 : params[k].value;
        if (v == 0 || v == 22) faint = false;
        else if (v == 2) faint = true;
        else if ((v == 38 || v == 48 || v == 58) && k + 1 < count && !params[k + 1].sub)
            k += params[k + 1].value == 5 ? 2 : params[k + 1].value == 2 ? 4 : 0;
    }
    return faint;
}

// Whether a DECSET/DECRST parameter list ("1049;2026") holds `mode`.
bool modeListHas(const char* p, size_t n, int mode) {
    int value = 0;
    for (size_t k = 0; k <= n; ++k) {
        if (k == n || p[k] == ';') {
            if (value == mode) return true;
            value = 0;
        } else if (p[k] >= '0' && p[k] <= '9') {
            value = std::min(value * 10 + (p[k] - '0'), 1 << 20);
        } else {
            return false;
        }
    }
    return false;
}

}  // namespace

void TerminalSurface::fullReset() {
    if (screen_ == &alt_) {
        screen_ = &primary_;
        for (int r = 0; r < rows_; ++r) primary_.row(r).clear(TermColor::kDefault);
    }
    mouseTracking_ = MouseTracking::Off;
    reverseVideo_ = false;
    synchronizedUpdate_ = false;
    d_->wrapRow = -1;
    markAllDirty(kRepaint | kContentChanged);
}

void TerminalSurface::setSynchronizedUpdate(bool on) {
    if (synchronizedUpdate_ == on) return;
    synchronizedUpdate_ = on;
    // The view held its frames back; now they may go.
    if (!on && damagePending_ && onDamage) onDamage();
}

// Hands the bytes to libvterm, looking only at escape sequences on the way: it adds what
// libvterm 0.1.4 lacks (SGR 2, faint) and holds back a sequence cut by the end of the read.
void TerminalSurface::feedScanned(const char* data, size_t size) {
    Impl& d = *d_;
    size_t fed = 0;
    size_t i = 0;
    auto flushTo = [&](size_t end) {
        if (end > fed) vterm_input_write(d.vt, data + fed, end - fed);
        fed = end;
    };
    auto findStringEnd = [&](size_t from, size_t& after) -> bool {
        // BEL or ST ends an OSC/DCS/APC string; ESC followed by anything else aborts it.
        for (size_t k = from; k < size; ++k) {
            const char b = data[k];
            if (b == '\a' || b == '\x18' || b == '\x1a') {
                after = k + 1;
                return true;
            }
            if (b == '\x1b') {
                if (k + 1 >= size) return false;
                after = data[k + 1] == '\\' ? k + 2 : k;
                return true;
            }
        }
        return false;
    };

    if (d.inOverlongString) {
        size_t after;
        if (!findStringEnd(0, after)) {
            flushTo(size);
            return;
        }
        d.inOverlongString = false;
        i = after;
    }

    size_t holdFrom = size;
    while (i < size) {
        const void* hit = std::memchr(data + i, 0x1b, size - i);
        if (!hit) break;
        const size_t start = size_t(static_cast<const char*>(hit) - data);
        size_t j = start + 1;
        if (j >= size) {
            holdFrom = start;
            break;
        }
        const char c = data[j];
        if (c == '[') {
            // Find the end of the CSI first; only an SGR that may hold a 2 is looked into.
            const size_t paramsFrom = j + 1;
            char final = 0;
            bool abandoned = false;
            for (++j; j < size; ++j) {
                const unsigned char b = static_cast<unsigned char>(data[j]);
                if (b >= 0x40 && b <= 0x7E) {
                    final = char(b);
                    break;
                }
                if (b == 0x1B || b == 0x18 || b == 0x1A) {
                    abandoned = true;
                    break;
                }
            }
            if (abandoned) {
                i = j;
                continue;
            }
            if (!final) {
                holdFrom = start;
                break;
            }
            i = j + 1;
            const size_t paramsLength = j - paramsFrom;
            if (final == 'm' && std::memchr(data + paramsFrom, '2', paramsLength) && faintAfterSgr(data + paramsFrom, paramsLength)) {
                flushTo(i);
                d.penAttrs |= TermCell::kDim;
            } else if ((final == 'h' || final == 'l') && paramsLength >= 5 && data[paramsFrom] == '?' &&
                       modeListHas(data + paramsFrom + 1, paramsLength - 1, kSynchronizedUpdate)) {
                flushTo(i);
                setSynchronizedUpdate(final == 'h');
            } else if (final == 'p' && paramsLength == 6 && std::memcmp(data + paramsFrom, "?2026$", 6) == 0) {
                // Asked whether synchronized updates are known: libvterm would say no.
                flushTo(start);
                fed = i;
                const QByteArray reply = synchronizedUpdate_ ? "\x1b[?2026;1$y" : "\x1b[?2026;2$y";
                write(reply.constData(), size_t(reply.size()));
            }
            continue;
        }
        if (c == ']' || c == 'P' || c == '_' || c == '^' || c == 'X') {
            size_t after;
            if (!findStringEnd(j + 1, after)) {
                holdFrom = start;
                break;
            }
            i = after > start ? after : start + 1;
            continue;
        }
        if (c == 'c') {
            // Full reset: libvterm 0.1.4 resets its modes without telling, so the mirror does too.
            i = j + 1;
            flushTo(i);
            fullReset();
            continue;
        }
        if (c >= 0x20 && c <= 0x2F) {  // ESC ( B and friends: one more byte
            if (j + 1 >= size) {
                holdFrom = start;
                break;
            }
            i = j + 2;
            continue;
        }
        i = j + 1;
    }

    if (holdFrom < size && size - holdFrom > kMaxHeldSequence) {
        // Not a sequence worth waiting for: let libvterm have it and skip to its end.
        flushTo(size);
        d.inOverlongString = data[holdFrom + 1] != '[';
        return;
    }
    if (holdFrom == size) {
        // libvterm 0.1.4 also mangles a UTF-8 character split between two writes.
        for (size_t back = 1; back <= 3 && back <= size; ++back) {
            const auto b = static_cast<unsigned char>(data[size - back]);
            if ((b & 0xC0) == 0x80) continue;  // continuation byte
            const size_t need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
            if (need > back) holdFrom = size - back;
            break;
        }
    }
    flushTo(holdFrom);
    if (holdFrom < size) d.held = QByteArray(data + holdFrom, qsizetype(size - holdFrom));
}

// ---- Output to the child

QByteArray TerminalSurface::capture(const std::function<void()>& fn) const {
    Impl& d = *d_;
    const bool was = d.capturing;
    QByteArray saved = std::move(d.captured);
    d.captured = QByteArray();
    d.capturing = true;
    fn();
    QByteArray out = std::move(d.captured);
    d.captured = std::move(saved);
    d.capturing = was;
    return out;
}

void TerminalSurface::sendBytes(QByteArrayView bytes) {
    write(bytes.data(), size_t(bytes.size()));
}

void TerminalSurface::sendText(QStringView text) {
    const QByteArray utf8 = text.toUtf8();
    write(utf8.constData(), size_t(utf8.size()));
}

void TerminalSurface::paste(QStringView text) {
    QString clean;
    clean.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        const char16_t u = ch.unicode();
        if (u == '\r') {
            clean += QLatin1Char('\r');
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) ++i;
        } else if (u == '\n') {
            clean += QLatin1Char('\r');
        } else if (u == '\t' || (u >= 0x20 && u != 0x7F && !(u >= 0x80 && u < 0xA0))) {
            // Control characters (ESC above all) could end the bracket and run commands.
            clean += ch;
        }
    }
    if (clean.isEmpty()) return;
    vterm_keyboard_start_paste(d_->vt);
    sendText(clean);
    vterm_keyboard_end_paste(d_->vt);
}

bool TerminalSurface::sendKey(int key, Qt::KeyboardModifiers modifiers, QStringView text) {
    VTerm* vt = d_->vt;
    const VTermModifier mod = toVTermModifier(modifiers);
    const bool alt = modifiers & Qt::AltModifier;
    const bool ctrl = modifiers & Qt::ControlModifier;
    const bool keypad = modifiers & Qt::KeypadModifier;
    auto sendKeyCode = [&](VTermKey k, VTermModifier m) {
        vterm_keyboard_key(vt, k, m);
        return true;
    };

    if (keypad) {
        VTermKey k = VTERM_KEY_NONE;
        switch (key) {
        case Qt::Key_0: k = VTERM_KEY_KP_0; break;
        case Qt::Key_1: k = VTERM_KEY_KP_1; break;
        case Qt::Key_2: k = VTERM_KEY_KP_2; break;
        case Qt::Key_3: k = VTERM_KEY_KP_3; break;
        case Qt::Key_4: k = VTERM_KEY_KP_4; break;
        case Qt::Key_5: k = VTERM_KEY_KP_5; break;
        case Qt::Key_6: k = VTERM_KEY_KP_6; break;
        case Qt::Key_7: k = VTERM_KEY_KP_7; break;
        case Qt::Key_8: k = VTERM_KEY_KP_8; break;
        case Qt::Key_9: k = VTERM_KEY_KP_9; break;
        case Qt::Key_Asterisk: k = VTERM_KEY_KP_MULT; break;
        case Qt::Key_Plus: k = VTERM_KEY_KP_PLUS; break;
        case Qt::Key_Comma: k = VTERM_KEY_KP_COMMA; break;
        case Qt::Key_Minus: k = VTERM_KEY_KP_MINUS; break;
        case Qt::Key_Period: k = VTERM_KEY_KP_PERIOD; break;
        case Qt::Key_Slash: k = VTERM_KEY_KP_DIVIDE; break;
        case Qt::Key_Enter: k = VTERM_KEY_KP_ENTER; break;
        case Qt::Key_Equal: k = VTERM_KEY_KP_EQUAL; break;
        default: break;
        }
        if (k != VTERM_KEY_NONE) return sendKeyCode(k, mod);
    }

    switch (key) {
    // Enter, Backspace, Tab and Escape as xterm sends them: libvterm would turn Shift and Ctrl
    // on them into CSI u sequences that shells print as garbage.
    case Qt::Key_Return:
    case Qt::Key_Enter: return sendKeyCode(VTERM_KEY_ENTER, alt ? VTERM_MOD_ALT : VTERM_MOD_NONE);
    case Qt::Key_Backspace:
        if (ctrl) {
            sendBytes(alt ? QByteArrayView("\x1b\x08", 2) : QByteArrayView("\x08", 1));
            return true;
        }
        return sendKeyCode(VTERM_KEY_BACKSPACE, alt ? VTERM_MOD_ALT : VTERM_MOD_NONE);
    case Qt::Key_Tab:
        if (modifiers & Qt::ShiftModifier) return sendKeyCode(VTERM_KEY_TAB, VTERM_MOD_SHIFT);
        return sendKeyCode(VTERM_KEY_TAB, alt ? VTERM_MOD_ALT : VTERM_MOD_NONE);
    case Qt::Key_Backtab: return sendKeyCode(VTERM_KEY_TAB, VTERM_MOD_SHIFT);
    case Qt::Key_Escape: return sendKeyCode(VTERM_KEY_ESCAPE, alt ? VTERM_MOD_ALT : VTERM_MOD_NONE);
    case Qt::Key_Up: return sendKeyCode(VTERM_KEY_UP, mod);
    case Qt::Key_Down: return sendKeyCode(VTERM_KEY_DOWN, mod);
    case Qt::Key_Left: return sendKeyCode(VTERM_KEY_LEFT, mod);
    case Qt::Key_Right: return sendKeyCode(VTERM_KEY_RIGHT, mod);
    case Qt::Key_Insert: return sendKeyCode(VTERM_KEY_INS, mod);
    case Qt::Key_Delete: return sendKeyCode(VTERM_KEY_DEL, mod);
    case Qt::Key_Home: return sendKeyCode(VTERM_KEY_HOME, mod);
    case Qt::Key_End: return sendKeyCode(VTERM_KEY_END, mod);
    case Qt::Key_PageUp: return sendKeyCode(VTERM_KEY_PAGEUP, mod);
    case Qt::Key_PageDown: return sendKeyCode(VTERM_KEY_PAGEDOWN, mod);
    default: break;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35) return sendKeyCode(VTermKey(VTERM_KEY_FUNCTION(key - Qt::Key_F1 + 1)), mod);

    if (ctrl) {
        // The legacy control characters, as every terminal sends them.
        int code = -1;
        if (key >= Qt::Key_A && key <= Qt::Key_Z) code = key - Qt::Key_A + 1;
        else switch (key) {
            case Qt::Key_Space:
            case Qt::Key_At:
            case Qt::Key_2: code = 0; break;
            case Qt::Key_BracketLeft:
            case Qt::Key_3: code = 0x1B; break;
            case Qt::Key_Backslash:
            case Qt::Key_4: code = 0x1C; break;
            case Qt::Key_BracketRight:
            case Qt::Key_5: code = 0x1D; break;
            case Qt::Key_AsciiCircum:
            case Qt::Key_6: code = 0x1E; break;
            case Qt::Key_Underscore:
            case Qt::Key_Minus:
            case Qt::Key_Slash:
            case Qt::Key_7: code = 0x1F; break;
            case Qt::Key_Question:
            case Qt::Key_8: code = 0x7F; break;
            default: break;
            }
        if (code >= 0) {
            char bytes[2] = {'\x1b', char(code)};
            sendBytes(alt ? QByteArrayView(bytes, 2) : QByteArrayView(bytes + 1, 1));
            return true;
        }
    }

    QString typed = text.toString();
    // Text that is itself a control character (Ctrl chords Qt translated) was handled above.
    if (!typed.isEmpty() && typed.at(0).unicode() < 0x20) typed.clear();
    if (typed.isEmpty() && alt && key >= Qt::Key_A && key <= Qt::Key_Z)
        typed = QChar(char16_t((modifiers & Qt::ShiftModifier ? 'A' : 'a') + (key - Qt::Key_A)));
    if (typed.isEmpty() && alt && key >= 0x20 && key < 0x7F) typed = QChar(char16_t(key));
    if (typed.isEmpty()) return false;
    if (alt) {
        // Alt is Meta: ESC before the character.
        QByteArray bytes = "\x1b" + typed.toUtf8();
        sendBytes(bytes);
        return true;
    }
    sendText(typed);
    return true;
}

void TerminalSurface::sendMouseReport(int button, bool release, bool shift, bool meta, bool control, int column,
                                      int row) {
    if (mouseTracking_ == MouseTracking::Off) return;
    int mod = VTERM_MOD_NONE;
    if (shift) mod |= VTERM_MOD_SHIFT;
    if (meta) mod |= VTERM_MOD_ALT;
    if (control) mod |= VTERM_MOD_CTRL;
    column = std::clamp(column, 0, cols_ - 1);
    row = std::clamp(row, 0, rows_ - 1);
    // Moving the pointer there first must not itself be reported as motion.
    capture([&] { vterm_mouse_move(d_->vt, row, column, VTermModifier(mod)); });
    vterm_mouse_button(d_->vt, button, !release, VTermModifier(mod));
}

void TerminalSurface::mouseMove(int column, int row, Qt::KeyboardModifiers modifiers) {
    vterm_mouse_move(d_->vt, std::clamp(row, 0, rows_ - 1), std::clamp(column, 0, cols_ - 1),
                     toVTermModifier(modifiers));
}

void TerminalSurface::mouseButton(int button, bool pressed, Qt::KeyboardModifiers modifiers) {
    vterm_mouse_button(d_->vt, button, pressed, toVTermModifier(modifiers));
}

void TerminalSurface::setFocused(bool focused) {
    if (focused) vterm_state_focus_in(d_->state);
    else vterm_state_focus_out(d_->state);
}

// ---- State queries

bool TerminalSurface::applicationCursorKeys() const {
    // libvterm 0.1.4 cannot be asked for DECCKM, but its own encoding of Up tells.
    return capture([this] { vterm_keyboard_key(d_->vt, VTERM_KEY_UP, VTERM_MOD_NONE); }) == "\x1bOA";
}

bool TerminalSurface::bracketedPaste() const {
    return !capture([this] { vterm_keyboard_start_paste(d_->vt); }).isEmpty();
}

void TerminalSurface::resize(int columns, int rows, int pixelWidth, int pixelHeight) {
    columns = std::max(columns, 1);
    rows = std::max(rows, 1);
    d_->pixelWidth = pixelWidth;
    d_->pixelHeight = pixelHeight;
    if (columns != cols_ || rows != rows_) vterm_set_size(d_->vt, rows, columns);
    if (pty_) pty_->setWindowSize({cols_, rows_, pixelWidth, pixelHeight});
}

QString TerminalSurface::rowText(int row) const {
    if (row < 0 || row >= rows_) return {};
    const TermRow& r = screen_->row(row);
    std::u32string text;
    const int n = r.usedLength();
    for (int c = 0; c < n; ++c) r.appendText(c, text);
    while (!text.empty() && text.back() == U' ') text.pop_back();
    return QString::fromUcs4(text.data(), qsizetype(text.size()));
}

QString TerminalSurface::screenText() const {
    QStringList lines;
    for (int r = 0; r < rows_; ++r) lines << rowText(r);
    return lines.join(QLatin1Char('\n'));
}

void TerminalSurface::setScrollbackLimit(int lines) {
    scrollback_.setLimit(lines);
}

// ---- Colours

void TerminalSurface::setDefaultColors(uint32_t foreground, uint32_t background, uint32_t cursor) {
    defaultFg_ = foreground & 0xFFFFFF;
    defaultBg_ = background & 0xFFFFFF;
    cursorColor_ = cursor & 0xFFFFFF;
    markAllDirty(kRepaint);
}

void TerminalSurface::setPaletteColor(int index, uint32_t rgb) {
    if (index < 0 || index > 255) return;
    palette_[size_t(index)] = rgb & 0xFFFFFF;
    markAllDirty(kRepaint);
}

uint32_t TerminalSurface::resolve(uint32_t c, bool foreground) const {
    if (TermColor::isIndexed(c)) return palette_[c & 0xFF];
    if (TermColor::isRgb(c)) return c & 0xFFFFFF;
    return foreground ? defaultFg_ : defaultBg_;
}
