#include "ui/dpi_rules.h"

namespace {

constexpr uint32_t kDsSetFont = 0x40;  // also part of DS_SHELLFONT

// A bounded little-endian reader over the template's bytes; every read past
// the end fails the parse instead of reading on.
class CTemplateReader {
public:
    CTemplateReader(const void* data, size_t size)
        : m_p(static_cast<const unsigned char*>(data)), m_size(size) {}

    bool Word(uint16_t& v) {
        if (m_pos + 2 > m_size) return false;
        v = static_cast<uint16_t>(m_p[m_pos] | (m_p[m_pos + 1] << 8));
        m_pos += 2;
        return true;
    }
    bool Short(int& v) {
        uint16_t w = 0;
        if (!Word(w)) return false;
        v = static_cast<int16_t>(w);
        return true;
    }
    bool Dword(uint32_t& v) {
        uint16_t lo = 0, hi = 0;
        if (!Word(lo) || !Word(hi)) return false;
        v = lo | (static_cast<uint32_t>(hi) << 16);
        return true;
    }
    bool String() {
        for (uint16_t c = 1; c != 0;)
            if (!Word(c)) return false;
        return true;
    }
    // A name or a number: 0x0000 none, 0xFFFF then a number, else a string.
    bool NameOrOrdinal() {
        uint16_t first = 0;
        if (!Word(first)) return false;
        if (first == 0) return true;
        if (first == 0xFFFF) return Word(first);
        return String();
    }
    bool Skip(size_t n) {
        if (m_pos + n > m_size) return false;
        m_pos += n;
        return true;
    }
    // Items start on 32-bit boundaries of the template.
    bool AlignDword() { return Skip((4 - m_pos % 4) % 4); }

private:
    const unsigned char* m_p;
    size_t m_size;
    size_t m_pos = 0;
};

bool ReadItem(CTemplateReader& r, TemplateItem& item) {
    uint32_t helpId = 0, exStyle = 0, style = 0, id = 0;
    uint16_t extra = 0;
    if (!r.AlignDword() || !r.Dword(helpId) || !r.Dword(exStyle) || !r.Dword(style)) return false;
    if (!r.Short(item.x) || !r.Short(item.y) || !r.Short(item.cx) || !r.Short(item.cy)) return false;
    if (!r.Dword(id)) return false;
    item.id = static_cast<int32_t>(id);  // -1 for the unnamed statics
    if (!r.NameOrOrdinal() || !r.NameOrOrdinal() || !r.Word(extra)) return false;
    return r.Skip(extra);
}

}  // namespace

bool ParseDialogTemplateEx(const void* data, size_t size, DialogTemplateInfo& out) {
    CTemplateReader r(data, size);
    uint16_t version = 0, signature = 0, count = 0;
    uint32_t helpId = 0, exStyle = 0, style = 0;
    int x = 0, y = 0;
    if (!r.Word(version) || !r.Word(signature) || version != 1 || signature != 0xFFFF) return false;
    if (!r.Dword(helpId) || !r.Dword(exStyle) || !r.Dword(style) || !r.Word(count)) return false;
    if (!r.Short(x) || !r.Short(y) || !r.Short(out.cx) || !r.Short(out.cy)) return false;
    if (!r.NameOrOrdinal() || !r.NameOrOrdinal() || !r.String()) return false;
    out.pointSize = 0;
    if ((style & kDsSetFont) != 0) {
        // Point size, weight, italic and character set, then the face name.
        uint16_t points = 0;
        if (!r.Word(points) || !r.Skip(4) || !r.String()) return false;
        out.pointSize = points;
    }
    out.items.clear();
    for (uint16_t i = 0; i < count; ++i) {
        TemplateItem item{};
        if (!ReadItem(r, item)) return false;
        out.items.push_back(item);
    }
    return true;
}

int MulDivRound(int a, int b, int c) {
    if (c == 0) return -1;
    long long num = static_cast<long long>(a) * b;
    long long den = c;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    const long long q = num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
    return static_cast<int>(q);
}

int FontHeightForDpi(int pointSize, unsigned dpi) {
    return -MulDivRound(pointSize, static_cast<int>(dpi), 72);
}

int AverageCharWidth(int extentOf52Letters) { return (extentOf52Letters / 26 + 1) / 2; }

Rect ItemRectAt(const TemplateItem& item, BaseUnits base) {
    const int left = MulDivRound(item.x, base.x, 4);
    const int top = MulDivRound(item.y, base.y, 8);
    return Rect{left, top, left + MulDivRound(item.cx, base.x, 4), top + MulDivRound(item.cy, base.y, 8)};
}

Rect ClientRectAt(const DialogTemplateInfo& dlg, BaseUnits base) {
    return Rect{0, 0, MulDivRound(dlg.cx, base.x, 4), MulDivRound(dlg.cy, base.y, 8)};
}

Rect GripRectAt(int cx, int cy, int gripWidth, int gripHeight) {
    return Rect{cx - gripWidth, cy - gripHeight, cx, cy};
}

LogColours PickLogColours(bool bHighContrast, uint32_t sysWindow, uint32_t sysWindowText) {
    if (bHighContrast) return LogColours{sysWindow, sysWindowText};
    return LogColours{0xFFFFFF, 0x000000};
}
