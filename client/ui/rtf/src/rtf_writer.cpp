// The RTF writer: the header the rich-edit control writes (\ansi\ansicpg1252, font and colour
// tables), then each paragraph with only the character properties that change between runs,
// so that a message stays well inside the record's size.

#include <QColor>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextFragment>
#include <array>
#include <cmath>
#include <map>
#include <vector>

#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace talvorine::rtf {
namespace {

struct RunAttributes {
    int font = -1;
    int halfPoints = -1;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int foreground = 0;
    int background = 0;
};

// Code page 1252's characters between 0x80 and 0x9F; the rest of its upper half is Latin-1.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The code page 1252 byte of a character, or 0 when the page has none.
unsigned char Cp1252Byte(char16_t c) {
    if (c >= 0xA0 && c <= 0xFF) {
        return static_cast<unsigned char>(c);
    }
    for (std::size_t i = 0; i < Cp1252High.size(); ++i) {
        if (Cp1252High[i] != 0 && Cp1252High[i] == c) {
            return static_cast<unsigned char>(0x80 + i);
        }
    }
    return 0;
}

void AppendNumber(std::string& out, long long value) {
    out += std::to_string(value);
}

// Text as 7-bit RTF: specials escaped, non-ASCII as \uN with a one-character fallback (\uc1).
void AppendEscaped(std::string& out, const QString& text) {
    static constexpr char Hex[] = "0123456789abcdef";
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == u'\\' || c == u'{' || c == u'}') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c == u'\t') {
            out += "\\tab ";
        } else if (c == QChar::LineSeparator) {
            out += "\\line ";
        } else if (c == 0xA0) {
            out += "\\~";
        } else if (c < 0x20 || c == 0x7F || c == QChar::ObjectReplacementCharacter ||
                   c == QChar::ParagraphSeparator || c == 0xFDD0 || c == 0xFDD1) {
            // Control characters, images and frame marks have no text to write.
        } else {
            out += "\\u";
            AppendNumber(out, c > 0x7FFF ? static_cast<long long>(c) - 0x10000 : c);
            if (const unsigned char byte = Cp1252Byte(c); byte != 0) {
                out += "\\'";
                out += Hex[byte >> 4];
                out += Hex[byte & 0x0F];
            } else {
                out += '?';
            }
        }
    }
}

class Writer {
public:
    explicit Writer(const WriteOptions& options) : options_(options) {}

    std::string Write(const QTextDocument& document) {
        FontIndex(options_.defaultFamily);
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                if (it.fragment().isValid()) {
                    Attributes(it.fragment().charFormat());
                }
            }
        }
        std::string out;
        out.reserve(static_cast<std::size_t>(document.characterCount()) + 256);
        Header(out);
        RunAttributes current;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            out += "\\pard";
            const Qt::Alignment align = block.blockFormat().alignment();
            if (align & Qt::AlignHCenter) {
                out += "\\qc";
            } else if (align & Qt::AlignRight) {
                out += "\\qr";
            } else if (align & Qt::AlignJustify) {
                out += "\\qj";
            }
            bool first = true;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (!fragment.isValid()) {
                    continue;
                }
                const RunAttributes next = Attributes(fragment.charFormat());
                const std::size_t before = out.size();
                Changes(out, current, next);
                if (out.size() != before || first) {
                    out += ' ';
                }
                first = false;
                current = next;
                AppendEscaped(out, fragment.text());
            }
            out += "\\par\r\n";
        }
        out += '}';
        return out;
    }

private:
    RunAttributes Attributes(const QTextCharFormat& format) {
        RunAttributes run;
        run.font = FontIndex(Family(format));
        double points = options_.defaultPointSize;
        if (format.hasProperty(QTextFormat::FontPointSize) && format.fontPointSize() > 0) {
            points = format.fontPointSize();
        } else if (format.hasProperty(QTextFormat::FontPixelSize) &&
                   format.intProperty(QTextFormat::FontPixelSize) > 0) {
            // Text pasted from a web page is sized in pixels: 96 to the inch, 72 points.
            points = format.intProperty(QTextFormat::FontPixelSize) * 0.75;
        }
        run.halfPoints = std::clamp(static_cast<int>(std::lround(points * 2)),
                                    2 * Limits::MinPointSize, 2 * Limits::MaxPointSize);
        run.bold =
            format.hasProperty(QTextFormat::FontWeight) && format.fontWeight() >= QFont::DemiBold;
        run.italic = format.fontItalic();
        run.underline = format.fontUnderline();
        run.strike = format.fontStrikeOut();
        run.foreground = ColorIndex(format, QTextFormat::ForegroundBrush);
        run.background = ColorIndex(format, QTextFormat::BackgroundBrush);
        return run;
    }

    QString Family(const QTextCharFormat& format) const {
        const QStringList families = format.property(QTextFormat::FontFamilies).toStringList();
        if (!families.isEmpty() && !families.first().isEmpty()) {
            return families.first();
        }
        const QString family = format.stringProperty(QTextFormat::FontFamily);
        return family.isEmpty() ? options_.defaultFamily : family;
    }

    int FontIndex(const QString& family) {
        // The default family is always font 0, whether or not a run names it.
        if (fonts_.empty()) {
            fonts_.push_back(options_.defaultFamily);
        }
        for (std::size_t i = 0; i < fonts_.size(); ++i) {
            if (fonts_[i] == family) {
                return static_cast<int>(i);
            }
        }
        fonts_.push_back(family);
        return static_cast<int>(fonts_.size() - 1);
    }

    int ColorIndex(const QTextCharFormat& format, QTextFormat::Property property) {
        if (!format.hasProperty(property)) {
            return 0;
        }
        const QBrush brush = format.brushProperty(property);
        if (brush.style() == Qt::NoBrush) {
            return 0;
        }
        const QRgb rgb = brush.color().rgb() & 0xFFFFFF;
        const auto [it, added] = colors_.emplace(rgb, static_cast<int>(colors_.size()) + 1);
        if (added) {
            colorOrder_.push_back(rgb);
        }
        return it->second;
    }

    void Header(std::string& out) const {
        out += "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl";
        for (std::size_t i = 0; i < fonts_.size(); ++i) {
            const QString& family = fonts_[i];
            out += "{\\f";
            AppendNumber(out, static_cast<long long>(i));
            out += family.compare(QLatin1String("Courier New"), Qt::CaseInsensitive) == 0
                       ? "\\fmodern"
                       : "\\fnil";
            out += "\\fcharset0 ";
            QString name = family;
            name.remove(QLatin1Char(';'));
            AppendEscaped(out, name);
            out += ";}";
        }
        out += "}\r\n";
        if (!colorOrder_.empty()) {
            out += "{\\colortbl ;";
            for (const QRgb rgb : colorOrder_) {
                out += "\\red";
                AppendNumber(out, qRed(rgb));
                out += "\\green";
                AppendNumber(out, qGreen(rgb));
                out += "\\blue";
                AppendNumber(out, qBlue(rgb));
                out += ';';
            }
            out += "}\r\n";
        }
        out += "\\uc1";
    }

    static void Changes(std::string& out, const RunAttributes& from, const RunAttributes& to) {
        const auto number = [&out](const char* word, int value) {
            out += word;
            AppendNumber(out, value);
        };
        const auto toggle = [&out](const char* word, bool on) {
            out += word;
            if (!on) {
                out += '0';
            }
        };
        if (from.font != to.font) {
            number("\\f", to.font);
        }
        if (from.halfPoints != to.halfPoints) {
            number("\\fs", to.halfPoints);
        }
        if (from.bold != to.bold) {
            toggle("\\b", to.bold);
        }
        if (from.italic != to.italic) {
            toggle("\\i", to.italic);
        }
        if (from.underline != to.underline) {
            out += to.underline ? "\\ul" : "\\ulnone";
        }
        if (from.strike != to.strike) {
            toggle("\\strike", to.strike);
        }
        if (from.foreground != to.foreground) {
            number("\\cf", to.foreground);
        }
        if (from.background != to.background) {
            number("\\highlight", to.background);
        }
    }

    const WriteOptions& options_;
    std::vector<QString> fonts_;
    std::map<QRgb, int> colors_;
    std::vector<QRgb> colorOrder_;
};

}  // namespace

std::string WriteRtf(const QTextDocument& document, const WriteOptions& options) {
    return Writer(options).Write(document);
}

}  // namespace talvorine::rtf
