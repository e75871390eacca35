#include "sessions/terminal/BoxDrawing.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

enum Weight { None = 0, Light = 1, Heavy = 2, Double = 3 };

// Arms of U+2500..U+257F as four digits: up, right, down, left. Dashed lines, arcs and diagonals
// (marked 'x') are drawn separately.
const char* const kArms[128] = {
    "0101", "0202", "1010", "2020", "x",    "x",    "x",    "x",    // 2500
    "x",    "x",    "x",    "x",    "0110", "0210", "0120", "0220",  // 2508
    "0011", "0012", "0021", "0022", "1100", "1200", "2100", "2200",  // 2510
    "1001", "1002", "2001", "2002", "1110", "1210", "2110", "1120",  // 2518
    "2120", "2210", "1220", "2220", "1011", "1012", "2011", "1021",  // 2520
    "2021", "2012", "1022", "2022", "0111", "0112", "0211", "0212",  // 2528
    "0121", "0122", "0221", "0222", "1101", "1102", "1201", "1202",  // 2530
    "2101", "2102", "2201", "2202", "1111", "1112", "1211", "1212",  // 2538
    "2111", "1121", "2121", "2112", "2211", "1122", "1221", "2212",  // 2540
    "1222", "2122", "2221", "2222", "x",    "x",    "x",    "x",    // 2548
    "0303", "3030", "0310", "0130", "0330", "0013", "0031", "0033",  // 2550
    "1300", "3100", "3300", "1003", "3001", "3003", "1310", "3130",  // 2558
    "3330", "1013", "3031", "3033", "0313", "0131", "0333", "1303",  // 2560
    "3101", "3303", "1313", "3131", "3333", "x",    "x",    "x",     // 2568
    "x",    "x",    "x",    "x",    "0001", "1000", "0100", "0010",  // 2570
    "0002", "2000", "0200", "0020", "0201", "1020", "0102", "2010",  // 2578
};

struct Metrics {
    int x, y, w, h;
    int light, heavy;
    int width(int weight) const { return weight == Heavy ? heavy : light; }
    // Left/top of a stroke of `t` pixels centred in the cell.
    int midX(int t) const { return x + (w - t) / 2; }
    int midY(int t) const { return y + (h - t) / 2; }
};

void drawArms(QPainter& p, const Metrics& m, const int arm[4], const QColor& color) {
    const int up = arm[0], right = arm[1], down = arm[2], left = arm[3];
    const int gap = m.light;  // between the two strokes of a double line
    // Single or heavy arms: a stroke from the edge to the centre, widened to cover the
    // perpendicular stroke so corners are square.
    const int vThick = std::max(up == Double ? 0 : m.width(up), down == Double ? 0 : m.width(down));
    const int hThick = std::max(left == Double ? 0 : m.width(left), right == Double ? 0 : m.width(right));
    const bool vDouble = up == Double || down == Double;
    const bool hDouble = left == Double || right == Double;
    const int cxL = m.midX(m.light), cyT = m.midY(m.light);
    // Double strokes sit one gap either side of where a single stroke would be.
    const int dl = cxL - gap, dr = cxL + gap;
    const int dt = cyT - gap, db = cyT + gap;

    auto fill = [&](int x0, int y0, int x1, int y1) {  // half-open
        if (x1 > x0 && y1 > y0) p.fillRect(QRect(x0, y0, x1 - x0, y1 - y0), color);
    };

    // Horizontal arms.
    for (int side = 0; side < 2; ++side) {
        const int weight = side == 0 ? left : right;
        if (!weight) continue;
        if (weight != Double) {
            const int t = m.width(weight);
            const int y0 = m.midY(t);
            int join;
            if (vDouble) join = side == 0 ? dl + m.light : dr;  // stop at the near double stroke
            else if (vThick) join = side == 0 ? m.midX(vThick) + vThick : m.midX(vThick);
            else join = side == 0 ? m.midX(t) + t : m.midX(t);
            if (side == 0) fill(m.x, y0, join, y0 + t);
            else fill(join, y0, m.x + m.w, y0 + t);
            continue;
        }
        // Double: upper and lower strokes; where they end depends on the vertical arms.
        for (int stroke = 0; stroke < 2; ++stroke) {
            const int y0 = stroke == 0 ? dt : db;
            int end;  // x where the stroke meets the centre area
            if (!vDouble && !vThick) {
                end = side == 0 ? cxL + m.light : cxL;
                if ((side == 0 ? right : left) == Double) end = side == 0 ? m.x + m.w : m.x;
            } else if (!vDouble) {
                end = side == 0 ? m.midX(vThick) + vThick : m.midX(vThick);
            } else {
                // Toward a double vertical: the stroke on the side of an arm stops at the
                // inner stroke, otherwise it runs to the outer one.
                const bool towardArm = stroke == 0 ? up != None : down != None;
                if (side == 0) end = towardArm ? dl + m.light : dr + m.light;
                else end = towardArm ? dr : dl;
            }
            if (side == 0) fill(m.x, y0, end, y0 + m.light);
            else fill(end, y0, m.x + m.w, y0 + m.light);
        }
    }
    // Vertical arms.
    for (int side = 0; side < 2; ++side) {
        const int weight = side == 0 ? up : down;
        if (!weight) continue;
        if (weight != Double) {
            const int t = m.width(weight);
            const int x0 = m.midX(t);
            int join;
            if (hDouble) join = side == 0 ? dt + m.light : db;
            else if (hThick) join = side == 0 ? m.midY(hThick) + hThick : m.midY(hThick);
            else join = side == 0 ? m.midY(t) + t : m.midY(t);
            if (side == 0) fill(x0, m.y, x0 + t, join);
            else fill(x0, join, x0 + t, m.y + m.h);
            continue;
        }
        for (int stroke = 0; stroke < 2; ++stroke) {
            const int x0 = stroke == 0 ? dl : dr;
            int end;
            if (!hDouble && !hThick) {
                end = side == 0 ? cyT + m.light : cyT;
                if ((side == 0 ? down : up) == Double) end = side == 0 ? m.y + m.h : m.y;
            } else if (!hDouble) {
                end = side == 0 ? m.midY(hThick) + hThick : m.midY(hThick);
            } else {
                const bool towardArm = stroke == 0 ? left != None : right != None;
                if (side == 0) end = towardArm ? dt + m.light : db + m.light;
                else end = towardArm ? db : dt;
            }
            if (side == 0) fill(x0, m.y, x0 + m.light, end);
            else fill(x0, end, x0 + m.light, m.y + m.h);
        }
    }
}

void drawDashes(QPainter& p, const Metrics& m, bool horizontal, int weight, int count, const QColor& color) {
    const int t = m.width(weight);
    const int length = horizontal ? m.w : m.h;
    for (int i = 0; i < count; ++i) {
        const int a = length * i / count;
        const int b = length * (i + 1) / count;
        const int gap = std::max(1, (b - a) / 3);
        if (horizontal) p.fillRect(QRect(m.x + a, m.midY(t), b - a - gap, t), color);
        else p.fillRect(QRect(m.midX(t), m.y + a, t, b - a - gap), color);
    }
}

void drawArc(QPainter& p, const Metrics& m, char32_t ch, const QColor& color) {
    const qreal t = m.light;
    const qreal cx = m.midX(m.light) + t / 2.0;
    const qreal cy = m.midY(m.light) + t / 2.0;
    const qreal r = std::min(m.w, m.h) / 2.0;
    QPainterPath path;
    const qreal left = m.x, right = m.x + m.w, top = m.y, bottom = m.y + m.h;
    switch (ch) {
    case 0x256D:  // down and right
        path.moveTo(right, cy);
        path.lineTo(cx + r, cy);
        path.quadTo(cx, cy, cx, cy + r);
        path.lineTo(cx, bottom);
        break;
    case 0x256E:  // down and left
        path.moveTo(left, cy);
        path.lineTo(cx - r, cy);
        path.quadTo(cx, cy, cx, cy + r);
        path.lineTo(cx, bottom);
        break;
    case 0x256F:  // up and left
        path.moveTo(left, cy);
        path.lineTo(cx - r, cy);
        path.quadTo(cx, cy, cx, cy - r);
        path.lineTo(cx, top);
        break;
    default:  // 0x2570 up and right
        path.moveTo(right, cy);
        path.lineTo(cx + r, cy);
        path.quadTo(cx, cy, cx, cy - r);
        path.lineTo(cx, top);
        break;
    }
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(color, t, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.restore();
}

void drawDiagonal(QPainter& p, const Metrics& m, char32_t ch, const QColor& color) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setClipRect(QRect(m.x, m.y, m.w, m.h));
    p.setPen(QPen(color, m.light, Qt::SolidLine, Qt::SquareCap));
    const QPointF tl(m.x, m.y), tr(m.x + m.w, m.y), bl(m.x, m.y + m.h), br(m.x + m.w, m.y + m.h);
    if (ch == 0x2571 || ch == 0x2573) p.drawLine(tr, bl);
    if (ch == 0x2572 || ch == 0x2573) p.drawLine(tl, br);
    p.restore();
}

void drawBlock(QPainter& p, const Metrics& m, char32_t ch, const QColor& color) {
    const int x = m.x, y = m.y, w = m.w, h = m.h;
    auto eighthsH = [&](int n) { return h * n / 8; };
    auto eighthsW = [&](int n) { return w * n / 8; };
    auto quad = [&](bool ul, bool ur, bool ll, bool lr) {
        const int hw = w / 2, hh = h / 2;
        if (ul) p.fillRect(QRect(x, y, hw, hh), color);
        if (ur) p.fillRect(QRect(x + hw, y, w - hw, hh), color);
        if (ll) p.fillRect(QRect(x, y + hh, hw, h - hh), color);
        if (lr) p.fillRect(QRect(x + hw, y + hh, w - hw, h - hh), color);
    };
    if (ch == 0x2580) p.fillRect(QRect(x, y, w, h / 2), color);
    else if (ch >= 0x2581 && ch <= 0x2588) {
        const int n = int(ch - 0x2580);
        p.fillRect(QRect(x, y + h - eighthsH(n), w, eighthsH(n)), color);
    } else if (ch >= 0x2589 && ch <= 0x258F) {
        const int n = 8 - int(ch - 0x2588);
        p.fillRect(QRect(x, y, eighthsW(n), h), color);
    } else if (ch == 0x2590) p.fillRect(QRect(x + w / 2, y, w - w / 2, h), color);
    else if (ch >= 0x2591 && ch <= 0x2593) {
        QColor shade = color;
        shade.setAlphaF(0.25 * int(ch - 0x2590));
        p.fillRect(QRect(x, y, w, h), shade);
    } else if (ch == 0x2594) p.fillRect(QRect(x, y, w, std::max(1, eighthsH(1))), color);
    else if (ch == 0x2595) p.fillRect(QRect(x + w - std::max(1, eighthsW(1)), y, std::max(1, eighthsW(1)), h), color);
    else switch (ch) {
        case 0x2596: quad(false, false, true, false); break;
        case 0x2597: quad(false, false, false, true); break;
        case 0x2598: quad(true, false, false, false); break;
        case 0x2599: quad(true, false, true, true); break;
        case 0x259A: quad(true, false, false, true); break;
        case 0x259B: quad(true, true, true, false); break;
        case 0x259C: quad(true, true, false, true); break;
        case 0x259D: quad(false, true, false, false); break;
        case 0x259E: quad(false, true, true, false); break;
        case 0x259F: quad(false, true, true, true); break;
        default: break;
        }
}

}  // namespace

bool BoxDrawing::draw(QPainter& painter, const QRect& cell, char32_t ch, const QColor& color) {
    if (!handles(ch)) return false;
    Metrics m;
    m.x = cell.x();
    m.y = cell.y();
    m.w = cell.width();
    m.h = cell.height();
    m.light = std::max(1, int(std::lround(m.h / 17.0)));
    m.heavy = std::max(m.light + 1, m.light * 2 + (m.light == 1 ? 1 : 0));

    if (ch == 0x23FA) {
        const qreal d = std::min(m.w, m.h) * 0.72;
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(m.x + m.w / 2.0, m.y + m.h / 2.0), d / 2, d / 2);
        painter.restore();
        return true;
    }
    if (ch == 0x23BF) ch = 0x2514;  // drawn as the light up-and-right corner
    if (ch >= 0x2580) {
        drawBlock(painter, m, ch, color);
        return true;
    }
    switch (ch) {
    case 0x2504: drawDashes(painter, m, true, Light, 3, color); return true;
    case 0x2505: drawDashes(painter, m, true, Heavy, 3, color); return true;
    case 0x2506: drawDashes(painter, m, false, Light, 3, color); return true;
    case 0x2507: drawDashes(painter, m, false, Heavy, 3, color); return true;
    case 0x2508: drawDashes(painter, m, true, Light, 4, color); return true;
    case 0x2509: drawDashes(painter, m, true, Heavy, 4, color); return true;
    case 0x250A: drawDashes(painter, m, false, Light, 4, color); return true;
    case 0x250B: drawDashes(painter, m, false, Heavy, 4, color); return true;
    case 0x254C: drawDashes(painter, m, true, Light, 2, color); return true;
    case 0x254D: drawDashes(painter, m, true, Heavy, 2, color); return true;
    case 0x254E: drawDashes(painter, m, false, Light, 2, color); return true;
    case 0x254F: drawDashes(painter, m, false, Heavy, 2, color); return true;
    case 0x256D:
    case 0x256E:
    case 0x256F:
    case 0x2570: drawArc(painter, m, ch, color); return true;
    case 0x2571:
    case 0x2572:
    case 0x2573: drawDiagonal(painter, m, ch, color); return true;
    default: break;
    }
    const char* code = kArms[ch - 0x2500];
    if (code[0] == 'x') return false;
    const int arms[4] = {code[0] - '0', code[1] - '0', code[2] - '0', code[3] - '0'};
    drawArms(painter, m, arms, color);
    return true;
}
