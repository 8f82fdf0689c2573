// The RTF codec on what the client sends and shows: writing and reading a message as large as a
// record allows (just under 32 KB of RTF), a history page of 1,000 ordinary messages written
// and read one by one into the same document, as the history pane does when it shows them, and
// the slowest 32 KB inputs for the reader.

#include <benchmark/benchmark.h>

#include <QColor>
#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>
#include <string>
#include <vector>

#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace {

using talvorine::rtf::ReadRtf;
using talvorine::rtf::ReadRtfToPlainText;
using talvorine::rtf::WriteRtf;

// The longest RTF text a message may carry.
constexpr std::size_t LargestMessage = 32767;

// One paragraph as people type it: plain words, a bold and a coloured word, an accented
// name and the euro sign.
void AddParagraph(QTextCursor& cursor, int n) {
    QTextCharFormat plain;
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextCharFormat red;
    red.setForeground(QColor(200, 0, 0));
    red.setFontItalic(true);
    cursor.insertText(QString("Paragraph %1: the meeting with ").arg(n), plain);
    cursor.insertText(QString::fromUtf8("Zoë Brönte"), bold);
    cursor.insertText(" moved to room 4.12; the budget is ", plain);
    cursor.insertText(QString::fromUtf8("€ 1,200"), red);
    cursor.insertText(" per head, see the {shared} folder.", plain);
}

// A document whose RTF is as long as a message may be.
void BuildLargest(QTextDocument& document) {
    QTextCursor cursor(&document);
    for (int n = 0;; ++n) {
        const int before = cursor.position();
        if (n > 0) {
            cursor.insertBlock();
        }
        AddParagraph(cursor, n);
        if (WriteRtf(document).size() > LargestMessage) {
            cursor.setPosition(before);
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            return;
        }
    }
}

std::vector<std::string> HistoryPage() {
    std::vector<std::string> page;
    for (int n = 0; n < 1000; ++n) {
        QTextDocument document;
        QTextCursor cursor(&document);
        AddParagraph(cursor, n);
        if (n % 3 == 0) {
            cursor.insertBlock();
            cursor.insertText("Regards");
        }
        page.push_back(WriteRtf(document));
    }
    return page;
}

void BM_Write32KMessage(benchmark::State& state) {
    QTextDocument document;
    BuildLargest(document);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string rtf = WriteRtf(document);
        bytes = rtf.size();
        benchmark::DoNotOptimize(rtf.data());
    }
    state.counters["rtf_bytes"] = static_cast<double>(bytes);
    state.counters["paragraphs"] = document.blockCount();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_Write32KMessage)->Unit(benchmark::kMicrosecond);

void BM_Read32KMessage(benchmark::State& state) {
    QTextDocument source;
    BuildLargest(source);
    const std::string rtf = WriteRtf(source);
    QTextDocument document;
    for (auto _ : state) {
        ReadRtf(rtf, document);
        benchmark::DoNotOptimize(document.characterCount());
    }
    state.counters["rtf_bytes"] = static_cast<double>(rtf.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * rtf.size()));
}
BENCHMARK(BM_Read32KMessage)->Unit(benchmark::kMicrosecond);

void BM_Read32KMessageToPlainText(benchmark::State& state) {
    QTextDocument source;
    BuildLargest(source);
    const std::string rtf = WriteRtf(source);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadRtfToPlainText(rtf).size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * rtf.size()));
}
BENCHMARK(BM_Read32KMessageToPlainText)->Unit(benchmark::kMicrosecond);

void BM_WriteHistoryPage(benchmark::State& state) {
    std::vector<std::unique_ptr<QTextDocument>> documents;
    for (const std::string& rtf : HistoryPage()) {
        documents.push_back(std::make_unique<QTextDocument>());
        ReadRtf(rtf, *documents.back());
    }
    for (auto _ : state) {
        std::size_t total = 0;
        for (const auto& document : documents) {
            total += WriteRtf(*document).size();
        }
        benchmark::DoNotOptimize(total);
    }
    state.counters["messages"] = static_cast<double>(documents.size());
}
BENCHMARK(BM_WriteHistoryPage)->Unit(benchmark::kMillisecond);

void BM_ReadHistoryPage(benchmark::State& state) {
    const std::vector<std::string> page = HistoryPage();
    std::size_t bytes = 0;
    for (const std::string& rtf : page) {
        bytes += rtf.size();
    }
    QTextDocument document;
    for (auto _ : state) {
        for (const std::string& rtf : page) {
            ReadRtf(rtf, document);
            benchmark::DoNotOptimize(document.characterCount());
        }
    }
    state.counters["messages"] = static_cast<double>(page.size());
    state.counters["page_bytes"] = static_cast<double>(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ReadHistoryPage)->Unit(benchmark::kMillisecond);

// The slowest 32 KB inputs found for the reader: a run per character (each a format change
// for the document) and a paragraph per five bytes.
std::string WorstCase(int kind) {
    const std::string unit = kind == 0 ? "{\\b a}b" : "\\par ";
    std::string rtf = "{\\rtf1 ";
    while (rtf.size() + unit.size() < LargestMessage) {
        rtf += unit;
    }
    return rtf;
}

void BM_ReadWorstCase32K(benchmark::State& state) {
    const std::string rtf = WorstCase(static_cast<int>(state.range(0)));
    QTextDocument document;
    for (auto _ : state) {
        ReadRtf(rtf, document);
        benchmark::DoNotOptimize(document.characterCount());
    }
    state.SetLabel(state.range(0) == 0 ? "a run per character" : "a paragraph per 5 bytes");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * rtf.size()));
}
BENCHMARK(BM_ReadWorstCase32K)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Documents resolve fonts through the GUI application; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
