// The RTF reader: one pass over the bytes with an explicit group stack (no recursion, so
// nesting cannot exhaust the call stack), tolerant of what other programs write and of what
// nobody should: unknown destinations and control words are skipped, groups may be unbalanced,
// \binN never reads past the input, sizes and counts are clamped.

#include <QColor>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "code_page.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace talvorine::rtf {
namespace {

using detail::CodePageDecoder;

struct CharState {
    int font = -1;       // font table index; -1 none
    int halfPoints = 0;  // 0: not given, the view's own size applies
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int foreground = 0;  // colour table index; 0 the automatic colour
    int background = 0;
    bool hidden = false;  // \v: text the writer meant no reader to show
    int link = -1;        // index of the hyperlink the text shows; -1 none
    bool operator==(const CharState&) const = default;
};

enum class Destination { Text, Skip, FontTable, ColorTable, FieldInstruction };

struct GroupState {
    CharState chars;
    Qt::Alignment align = Qt::AlignLeft;
    Destination destination = Destination::Text;
    int unicodeSkip = 1;
};

struct FontEntry {
    QString family;
    int charset = -1;
};

// Destinations whose content is not document text. Sorted for binary search.
constexpr std::array<std::string_view, 47> SkippedDestinations = {"annotation",
                                                                  "atnauthor",
                                                                  "atndate",
                                                                  "atnicn",
                                                                  "atnid",
                                                                  "atnparent",
                                                                  "atnref",
                                                                  "atntime",
                                                                  "atrfend",
                                                                  "atrfstart",
                                                                  "author",
                                                                  "bkmkend",
                                                                  "bkmkstart",
                                                                  "buptim",
                                                                  "comment",
                                                                  "creatim",
                                                                  "doccomm",
                                                                  "docvar",
                                                                  "filetbl",
                                                                  "footer",
                                                                  "footerf",
                                                                  "footerl",
                                                                  "footerr",
                                                                  "footnote",
                                                                  "header",
                                                                  "headerf",
                                                                  "headerl",
                                                                  "headerr",
                                                                  "info",
                                                                  "keywords",
                                                                  "listoverridetable",
                                                                  "listtable",
                                                                  "nonshppict",
                                                                  "object",
                                                                  "operator",
                                                                  "pict",
                                                                  "printim",
                                                                  "revtbl",
                                                                  "revtim",
                                                                  "rsidtbl",
                                                                  "stylesheet",
                                                                  "subject",
                                                                  "tc",
                                                                  "template",
                                                                  "title",
                                                                  "txe",
                                                                  "xe"};
static_assert(std::is_sorted(SkippedDestinations.begin(), SkippedDestinations.end()));

constexpr int MaxCodePageDecoders = 16;
// A field instruction longer than this is no hyperlink of ours; links past the count are text.
constexpr std::size_t MaxFieldInstruction = 2048;
constexpr std::size_t MaxLinks = 1024;

// The target of a HYPERLINK field instruction, when it is one a click may open: web and mail
// addresses only, so that friendly text cannot hide a file or a program to run.
QString HyperlinkTarget(const QString& instruction) {
    const QString text = instruction.trimmed();
    if (!text.startsWith(QLatin1String("HYPERLINK"), Qt::CaseInsensitive)) {
        return {};
    }
    QString target = text.mid(9).trimmed();
    if (target.startsWith(QLatin1Char('"'))) {
        target = target.mid(1).section(QLatin1Char('"'), 0, 0);
    } else {
        target = target.section(QLatin1Char(' '), 0, 0);
    }
    for (const char* scheme : {"http://", "https://", "ftp://", "mailto:"}) {
        if (target.startsWith(QLatin1String(scheme), Qt::CaseInsensitive)) {
            return target;
        }
    }
    return {};
}

int Clamp(long long value, int low, int high) {
    return static_cast<int>(std::clamp<long long>(value, low, high));
}

// Where the parsed text goes: a document through a cursor, or plain text.
class Output {
public:
    // Without a document, the text is collected as plain text.
    explicit Output(QTextDocument* document) {
        if (document != nullptr) {
            cursor_.emplace(document);
            cursor_->beginEditBlock();
        }
    }

    void Text(const QString& text, const QTextCharFormat& format) {
        if (cursor_) {
            cursor_->insertText(text, format);
        } else {
            plain_ += text;
        }
    }

    void NewParagraph() {
        if (cursor_) {
            cursor_->insertBlock();
            alignment_ = cursor_->blockFormat().alignment();
        } else {
            plain_ += QLatin1Char('\n');
        }
    }

    void Align(Qt::Alignment alignment) {
        if (!cursor_ || alignment == alignment_) {
            return;
        }
        QTextBlockFormat format = cursor_->blockFormat();
        format.setAlignment(alignment);
        cursor_->setBlockFormat(format);
        alignment_ = alignment;
    }

    void Finish() {
        if (cursor_) {
            cursor_->endEditBlock();
        }
    }

    bool WantsFormats() const { return cursor_.has_value(); }
    QString& Plain() { return plain_; }

private:
    std::optional<QTextCursor> cursor_;
    Qt::Alignment alignment_ = Qt::AlignLeft;
    QString plain_;
};

class Parser {
public:
    Parser(std::string_view input, Output& output) : in_(input), out_(output) {}

    void Run() {
        // Start at the opening brace of "{\rtf"; LooksLikeRtf has checked it is there.
        pos_ = in_.find('{');
        while (pos_ < in_.size() && !finished_) {
            const char c = in_[pos_];
            if (c == '{') {
                ++pos_;
                OpenGroup();
            } else if (c == '}') {
                ++pos_;
                CloseGroup();
            } else if (c == '\\') {
                ++pos_;
                Control();
            } else if (c == '\r' || c == '\n') {
                ++pos_;
            } else {
                ++pos_;
                starred_ = false;
                TextByte(c);
            }
        }
        DecodePending();
        FlushRun();
        out_.Finish();
    }

private:
    // --- groups -------------------------------------------------------------------------
    void OpenGroup() {
        starred_ = false;
        skipFallback_ = 0;
        if (overflow_ > 0 || stack_.size() >= static_cast<std::size_t>(Limits::MaxGroupDepth)) {
            ++overflow_;
            return;
        }
        stack_.push_back(state_);
    }

    void CloseGroup() {
        starred_ = false;
        skipFallback_ = 0;
        if (overflow_ > 0) {
            --overflow_;
            return;
        }
        if (state_.destination == Destination::FontTable) {
            CommitFont();
        }
        if (stack_.empty()) {
            finished_ = true;
            return;
        }
        state_ = stack_.back();
        stack_.pop_back();
        if (stack_.empty()) {
            // The document's own group has closed; whatever follows is not part of it.
            finished_ = true;
        }
    }

    // --- control words and symbols -------------------------------------------------------
    void Control() {
        if (pos_ >= in_.size()) {
            return;
        }
        const char c = in_[pos_];
        if (!IsLetter(c)) {
            ++pos_;
            Symbol(c);
            return;
        }
        const std::size_t start = pos_;
        while (pos_ < in_.size() && IsLetter(in_[pos_])) {
            ++pos_;
        }
        const std::string_view name =
            in_.substr(start, std::min(pos_ - start, Limits::MaxControlWordLength));
        std::optional<long long> parameter;
        bool negative = false;
        if (pos_ + 1 < in_.size() && in_[pos_] == '-' && IsDigit(in_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        if (pos_ < in_.size() && IsDigit(in_[pos_])) {
            long long value = 0;
            while (pos_ < in_.size() && IsDigit(in_[pos_])) {
                value = std::min<long long>(value * 10 + (in_[pos_] - '0'), 1LL << 40);
                ++pos_;
            }
            parameter = negative ? -value : value;
        }
        if (pos_ < in_.size() && in_[pos_] == ' ') {
            ++pos_;
        }
        const bool starred = starred_;
        starred_ = false;
        Word(name, parameter, starred);
    }

    void Word(std::string_view name, std::optional<long long> parameter, bool starred) {
        if (name == "bin") {
            // Binary data is skipped wherever it is, and never past the end of the input.
            const auto length =
                static_cast<std::size_t>(std::max<long long>(parameter.value_or(0), 0));
            pos_ += std::min(length, in_.size() - pos_);
            CountFallback();
            return;
        }
        if (overflow_ > 0 || state_.destination == Destination::Skip) {
            return;
        }
        if (name == "fldinst" && stack_.size() > 1) {
            state_.destination = Destination::FieldInstruction;
            fieldInstruction_.clear();
            return;
        }
        if (name == "fldrslt") {
            // The field's result is text; a hyperlink field makes it a link.
            const QString target = HyperlinkTarget(QString::fromLatin1(fieldInstruction_));
            fieldInstruction_.clear();
            if (!target.isEmpty() && links_.size() < MaxLinks) {
                links_.push_back(target);
                state_.chars.link = static_cast<int>(links_.size() - 1);
            }
            return;
        }
        if (state_.destination == Destination::FieldInstruction) {
            return;
        }
        if (starred ||
            std::binary_search(SkippedDestinations.begin(), SkippedDestinations.end(), name)) {
            // A destination is a group of its own; one named loose in the document's group
            // must not swallow the rest of the document.
            if (stack_.size() > 1) {
                state_.destination = Destination::Skip;
            }
            return;
        }
        if (name == "fonttbl") {
            state_.destination = Destination::FontTable;
            entryFont_ = -1;
            entryName_.clear();
            entryFamily_.clear();
            return;
        }
        if (name == "colortbl") {
            state_.destination = Destination::ColorTable;
            ResetColor();
            return;
        }
        switch (state_.destination) {
            case Destination::FontTable:
                FontTableWord(name, parameter);
                return;
            case Destination::ColorTable:
                ColorTableWord(name, parameter);
                return;
            default:
                break;
        }
        if (skipFallback_ > 0) {
            --skipFallback_;
            return;
        }
        TextWord(name, parameter);
    }

    void TextWord(std::string_view name, std::optional<long long> parameter) {
        const bool on = parameter.value_or(1) != 0;
        CharState& chars = state_.chars;
        if (name == "par" || name == "row" || name == "nestrow") {
            Paragraph();
        } else if (name == "sect" || name == "page") {
            // A section or page break closes an open paragraph but adds no empty one.
            if (!paragraphPending_) {
                Paragraph();
            }
        } else if (name == "line") {
            Char(QChar::LineSeparator);
        } else if (name == "tab" || name == "cell" || name == "nestcell") {
            Char(u'\t');
        } else if (name == "u") {
            if (parameter) {
                UnicodeChar(Utf16Unit(*parameter));
                skipFallback_ = state_.unicodeSkip;
            }
        } else if (name == "uc") {
            state_.unicodeSkip = Clamp(parameter.value_or(1), 0, Limits::MaxUnicodeSkip);
        } else if (name == "b") {
            chars.bold = on;
        } else if (name == "i") {
            chars.italic = on;
        } else if (name == "v") {
            chars.hidden = on;
        } else if (name == "strike" || name == "striked") {
            chars.strike = on;
        } else if (name == "ulnone") {
            chars.underline = false;
        } else if (name.starts_with("ul") && name != "ulc") {
            // \ul and its styles (\uld, \uldb, \ulwave ...) all underline.
            chars.underline = on;
        } else if (name == "plain") {
            chars = CharState{};
            chars.font = defaultFont_;
        } else if (name == "f") {
            chars.font = Clamp(parameter.value_or(0), -1, 1 << 30);
        } else if (name == "fs") {
            chars.halfPoints =
                Clamp(parameter.value_or(24), 2 * Limits::MinPointSize, 2 * Limits::MaxPointSize);
        } else if (name == "cf") {
            chars.foreground = Clamp(parameter.value_or(0), 0, Limits::MaxColors);
        } else if (name == "cb" || name == "highlight" || name == "chcbpat") {
            chars.background = Clamp(parameter.value_or(0), 0, Limits::MaxColors);
        } else if (name == "pard") {
            state_.align = Qt::AlignLeft;
        } else if (name == "ql") {
            state_.align = Qt::AlignLeft;
        } else if (name == "qr") {
            state_.align = Qt::AlignRight;
        } else if (name == "qc") {
            state_.align = Qt::AlignHCenter;
        } else if (name == "qj") {
            state_.align = Qt::AlignJustify;
        } else if (name == "deff") {
            defaultFont_ = Clamp(parameter.value_or(0), 0, 1 << 30);
            chars.font = defaultFont_;
        } else if (name == "ansicpg") {
            if (parameter && *parameter > 0 && *parameter < 65536) {
                ansiCodePage_ = static_cast<int>(*parameter);
            }
        } else if (name == "ansi") {
            ansiCodePage_ = detail::DefaultCodePage;
        } else if (name == "mac") {
            ansiCodePage_ = 10000;
        } else if (name == "pc") {
            ansiCodePage_ = 437;
        } else if (name == "pca") {
            ansiCodePage_ = 850;
        } else if (const char16_t c = SpecialCharacter(name); c != 0) {
            Char(c);
        }
    }

    // \uN takes a signed 16-bit value: -1 is U+FFFF.
    static char16_t Utf16Unit(long long parameter) {
        const int value = Clamp(parameter, -32768, 65535);
        return static_cast<char16_t>(value < 0 ? value + 65536 : value);
    }

    // A character named by number may be one the document itself uses as a mark (a paragraph
    // or frame boundary, an object): those become what they mean or nothing, as bytes do.
    void UnicodeChar(char16_t c) {
        if (c == QChar::ParagraphSeparator) {
            Paragraph();
        } else if ((c < 0x20 && c != u'\t') || c == QChar::ObjectReplacementCharacter ||
                   c == 0xFDD0 || c == 0xFDD1) {
            return;
        } else {
            Char(c);
        }
    }

    static char16_t SpecialCharacter(std::string_view name) {
        static constexpr std::array<std::pair<std::string_view, char16_t>, 13> Table = {{
            {"bullet", u'\u2022'},
            {"emdash", u'\u2014'},
            {"emspace", u'\u2003'},
            {"endash", u'\u2013'},
            {"enspace", u'\u2002'},
            {"ldblquote", u'\u201C'},
            {"lquote", u'\u2018'},
            {"ltrmark", u'\u200E'},
            {"qmspace", u'\u2005'},
            {"rdblquote", u'\u201D'},
            {"rquote", u'\u2019'},
            {"rtlmark", u'\u200F'},
            {"zwj", u'\u200D'},
        }};
        for (const auto& [word, character] : Table) {
            if (word == name) {
                return character;
            }
        }
        return 0;
    }

    void Symbol(char c) {
        starred_ = c == '*';
        if (starred_) {
            return;
        }
        if (c == '\'') {
            const int high = pos_ < in_.size() ? HexValue(in_[pos_]) : -1;
            if (high < 0) {
                return;
            }
            ++pos_;
            int value = high;
            if (pos_ < in_.size() && HexValue(in_[pos_]) >= 0) {
                value = value * 16 + HexValue(in_[pos_]);
                ++pos_;
            }
            TextByte(static_cast<char>(value));
            return;
        }
        if (c == '\\' || c == '{' || c == '}') {
            TextByte(c);
            return;
        }
        if (overflow_ > 0 || state_.destination != Destination::Text) {
            return;
        }
        if (skipFallback_ > 0) {
            --skipFallback_;
            return;
        }
        switch (c) {
            case '~':
                Char(u'\u00A0');
                break;
            case '_':
                Char(u'\u2011');
                break;
            case '\n':
            case '\r':
                Paragraph();
                break;
            case '\t':
                Char(u'\t');
                break;
            default:
                break;  // \- optional hyphen, \| \: index marks and unknown symbols
        }
    }

    // --- text ------------------------------------------------------------------------------
    void TextByte(char byte) {
        if (overflow_ > 0) {
            return;
        }
        switch (state_.destination) {
            case Destination::Skip:
                return;
            case Destination::FontTable:
                if (skipFallback_ > 0) {
                    --skipFallback_;
                } else if (byte == ';') {
                    CommitFont();
                } else {
                    entryName_ += byte;
                }
                return;
            case Destination::ColorTable:
                if (byte == ';') {
                    CommitColor();
                }
                return;
            case Destination::FieldInstruction:
                if (fieldInstruction_.size() < MaxFieldInstruction) {
                    fieldInstruction_ += byte;
                }
                return;
            case Destination::Text:
                break;
        }
        if (skipFallback_ > 0) {
            --skipFallback_;
            return;
        }
        if (state_.chars.hidden || byte == '\0' ||
            (static_cast<unsigned char>(byte) < 0x20 && byte != '\t')) {
            return;
        }
        StartText();
        pendingBytes_ += byte;
    }

    void Char(char16_t c) {
        if (state_.chars.hidden) {
            return;
        }
        StartText();
        DecodePending();
        run_ += QChar(c);
    }

    void CountFallback() {
        if (skipFallback_ > 0) {
            --skipFallback_;
        }
    }

    // Text is about to be added in the current state: close the paragraph the last \par
    // ended, and close the run when the format changed.
    void StartText() {
        if (paragraphPending_) {
            DecodePending();
            FlushRun();
            out_.NewParagraph();
            paragraphPending_ = false;
        }
        out_.Align(state_.align);
        if (!(state_.chars == runChars_)) {
            DecodePending();
            FlushRun();
            runChars_ = state_.chars;
        }
    }

    // A \par ends the paragraph; the next one starts only when more text follows, so the
    // closing \par that every writer puts after the last paragraph adds no empty line.
    void Paragraph() {
        if (paragraphPending_) {
            StartText();
        } else {
            out_.Align(state_.align);
        }
        DecodePending();
        FlushRun();
        paragraphPending_ = true;
    }

    void DecodePending() {
        if (pendingBytes_.empty()) {
            return;
        }
        Decoder(CodePageOf(runChars_.font)).Decode(pendingBytes_, run_);
        pendingBytes_.clear();
    }

    void FlushRun() {
        if (run_.isEmpty()) {
            return;
        }
        if (out_.WantsFormats()) {
            if (!formatFor_ || !(*formatFor_ == runChars_)) {
                format_ = Format(runChars_);
                formatFor_ = runChars_;
            }
            out_.Text(run_, format_);
        } else {
            out_.Text(run_, {});
        }
        run_.clear();
    }

    QTextCharFormat Format(const CharState& chars) const {
        QTextCharFormat format;
        if (const auto font = fonts_.find(chars.font);
            font != fonts_.end() && !font->second.family.isEmpty()) {
            format.setFontFamilies(QStringList{font->second.family});
        }
        if (chars.halfPoints > 0) {
            format.setFontPointSize(chars.halfPoints / 2.0);
        }
        if (chars.link >= 0) {
            format.setAnchor(true);
            format.setAnchorHref(links_[static_cast<std::size_t>(chars.link)]);
        }
        if (chars.bold) {
            format.setFontWeight(QFont::Bold);
        }
        if (chars.italic) {
            format.setFontItalic(true);
        }
        if (chars.underline) {
            format.setFontUnderline(true);
        }
        if (chars.strike) {
            format.setFontStrikeOut(true);
        }
        if (const QColor color = ColorAt(chars.foreground); color.isValid()) {
            format.setForeground(color);
        }
        if (const QColor color = ColorAt(chars.background); color.isValid()) {
            format.setBackground(color);
        }
        return format;
    }

    QColor ColorAt(int index) const {
        if (index <= 0 || static_cast<std::size_t>(index) >= colors_.size()) {
            return {};
        }
        return colors_[static_cast<std::size_t>(index)];
    }

    int CodePageOf(int font) const {
        const auto entry = fonts_.find(font);
        const int charset = entry != fonts_.end() ? entry->second.charset : -1;
        return detail::CodePageForCharset(charset, ansiCodePage_);
    }

    CodePageDecoder& Decoder(int codePage) {
        auto found = decoders_.find(codePage);
        if (found == decoders_.end()) {
            if (decoders_.size() >= static_cast<std::size_t>(MaxCodePageDecoders)) {
                decoders_.clear();
            }
            found = decoders_.emplace(codePage, std::make_unique<CodePageDecoder>(codePage)).first;
        }
        return *found->second;
    }

    // --- font and colour tables -------------------------------------------------------------
    void FontTableWord(std::string_view name, std::optional<long long> parameter) {
        if (skipFallback_ > 0) {
            --skipFallback_;
            return;
        }
        if (name == "u" && parameter) {
            // A font name with characters outside its code page.
            DecodeFontName();
            entryFamily_ += QChar(Utf16Unit(*parameter));
            skipFallback_ = state_.unicodeSkip;
        } else if (name == "uc") {
            state_.unicodeSkip = Clamp(parameter.value_or(1), 0, Limits::MaxUnicodeSkip);
        } else if (name == "f") {
            CommitFont();
            entryFont_ = Clamp(parameter.value_or(0), 0, 1 << 30);
            entryCharset_ = -1;
        } else if (name == "fcharset") {
            entryCharset_ = Clamp(parameter.value_or(0), 0, 255);
        }
    }

    void CommitFont() {
        if (entryFont_ >= 0 && fonts_.size() < static_cast<std::size_t>(Limits::MaxFonts)) {
            DecodeFontName();
            const QString family = entryFamily_.trimmed();
            if (!family.isEmpty() || fonts_.find(entryFont_) == fonts_.end()) {
                fonts_[entryFont_] = FontEntry{family, entryCharset_};
            }
        }
        entryName_.clear();
        entryFamily_.clear();
        entryFont_ = -1;
        entryCharset_ = -1;
    }

    void DecodeFontName() {
        Decoder(detail::CodePageForCharset(entryCharset_, ansiCodePage_))
            .Decode(entryName_, entryFamily_);
        entryName_.clear();
    }

    void ColorTableWord(std::string_view name, std::optional<long long> parameter) {
        const int value = Clamp(parameter.value_or(0), 0, 255);
        if (name == "red") {
            red_ = value;
        } else if (name == "green") {
            green_ = value;
        } else if (name == "blue") {
            blue_ = value;
        } else {
            return;
        }
        colorGiven_ = true;
    }

    void CommitColor() {
        if (colors_.size() < static_cast<std::size_t>(Limits::MaxColors) + 1) {
            colors_.push_back(colorGiven_ ? QColor(red_, green_, blue_) : QColor());
        }
        ResetColor();
    }

    void ResetColor() {
        red_ = green_ = blue_ = 0;
        colorGiven_ = false;
    }

    static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static int HexValue(char c) {
        int value = -1;  // left as it is when `c` is not a hex digit
        std::from_chars(&c, &c + 1, value, 16);
        return value;
    }

    std::string_view in_;
    Output& out_;
    std::size_t pos_ = 0;
    bool finished_ = false;
    bool starred_ = false;
    int overflow_ = 0;  // groups opened past the depth limit, skipped whole
    int skipFallback_ = 0;
    GroupState state_;
    std::vector<GroupState> stack_;

    int ansiCodePage_ = detail::DefaultCodePage;
    int defaultFont_ = -1;
    std::map<int, FontEntry> fonts_;
    int entryFont_ = -1;
    int entryCharset_ = -1;
    std::string entryName_;  // bytes in the font's code page not yet decoded
    QString entryFamily_;
    std::vector<QColor> colors_;
    std::string fieldInstruction_;
    std::vector<QString> links_;
    int red_ = 0;
    int green_ = 0;
    int blue_ = 0;
    bool colorGiven_ = false;

    std::map<int, std::unique_ptr<CodePageDecoder>> decoders_;
    std::string pendingBytes_;
    QString run_;
    CharState runChars_;
    bool paragraphPending_ = false;
    QTextCharFormat format_;
    std::optional<CharState> formatFor_;
};

}  // namespace

bool LooksLikeRtf(std::string_view text) {
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    return start != std::string_view::npos && text.substr(start).starts_with("{\\rtf");
}

void ReadRtf(std::string_view rtf, QTextDocument& into) {
    const bool undo = into.isUndoRedoEnabled();
    into.setUndoRedoEnabled(false);
    into.clear();
    if (!LooksLikeRtf(rtf)) {
        into.setPlainText(QString::fromUtf8(rtf.data(), static_cast<qsizetype>(rtf.size())));
    } else {
        Output output(&into);
        Parser(rtf, output).Run();
    }
    into.setUndoRedoEnabled(undo);
}

std::string ReadRtfToPlainText(std::string_view rtf) {
    if (!LooksLikeRtf(rtf)) {
        return std::string(rtf);
    }
    Output output(nullptr);
    Parser(rtf, output).Run();
    QString& plain = output.Plain();
    plain.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return plain.toStdString();
}

}  // namespace talvorine::rtf
