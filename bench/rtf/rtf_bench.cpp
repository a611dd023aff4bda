// Reading and writing a large body: about 5 MB of RTF, mostly Chinese text as \'hh bytes (the
// form the Windows rich-text control writes) plus ten JPEG pictures as hex; and a body of tables.
// Every figure counts the input bytes; Qt's HTML reader and writer on the same document are the
// reference.
//   bench_rtf --benchmark_counters_tabular=true
#include "editor/rtf/rtf.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QRandomGenerator>
#include <QTextDocument>

#include "platform/code_page.h"

namespace {

QByteArray make_jpeg(int seed)
{
    QImage image(360, 270, QImage::Format_RGB32);
    QRandomGenerator random{quint32(seed)};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb((x * 3 + seed * 40) & 0xFF, (y * 2) & 0xFF, int(random.bounded(256))));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

const std::vector<QByteArray> &jpegs()
{
    static const std::vector<QByteArray> list = [] {
        std::vector<QByteArray> l;
        for (int i = 0; i < 10; ++i)
            l.push_back(make_jpeg(i));
        return l;
    }();
    return list;
}

// A body as the Windows control writes it: GBK bytes, runs of bold and colour, a paragraph every
// line, ten pictures spread over the text.
QByteArray make_body(bool pictures, qsizetype target)
{
    const QString line =
        QStringLiteral("今天的会议讨论了项目进度，预计下个月完成第一阶段的开发工作。镕堃喆 2024 年 version 1.5 ");
    QByteArray gbk;
    for (char c : yunshan::unicode_to_ansi(line)) {
        const auto b = uchar(c);
        if (b < 0x80) {
            gbk.append(c);
        } else {
            static const char digits[] = "0123456789abcdef";
            gbk.append("\\'");
            gbk.append(digits[b >> 4]);
            gbk.append(digits[b & 15]);
        }
    }
    QByteArray rtf =
        "{\\rtf1\\ansi\\ansicpg936\\deff0\\nouicompat\\deflang1033\\deflangfe2052{\\fonttbl{\\f0\\fnil\\fcharset134 "
        "\\'cb\\'ce\\'cc\\'e5;}{\\f1\\fnil\\fcharset0 Calibri;}}\r\n{\\colortbl ;\\red255\\green0\\blue0;}\r\n"
        "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang2052 ";
    rtf.reserve(target + 1024);
    qsizetype picture_every = 0;
    qsizetype picture_bytes = 0;
    if (pictures) {
        for (const QByteArray &j : jpegs())
            picture_bytes += j.size() * 2 + j.size() / 39 + 100;
        picture_every = (target - picture_bytes) / 10;
    }
    int next_picture = 0;
    qsizetype since_picture = 0;
    int n = 0;
    while (rtf.size() < target || (pictures && next_picture < 10)) {
        rtf.append(gbk);
        if (++n % 5 == 0)
            rtf.append("\\b ").append(gbk.left(40)).append("\\b0 \\cf1 ").append(gbk.left(24)).append("\\cf0 ");
        rtf.append("\\par\r\n");
        since_picture += gbk.size() + 8;
        if (pictures && next_picture < 10 && since_picture >= picture_every) {
            const QByteArray hex = jpegs()[size_t(next_picture++)].toHex();
            rtf.append("{\\pict{\\*\\picprop}\\jpegblip\\picw360\\pich270\\picwgoal5400\\pichgoal4050\r\n");
            for (qsizetype i = 0; i < hex.size(); i += 78)
                rtf.append(hex.mid(i, 78)).append("\r\n");
            rtf.append("}\\par\r\n");
            since_picture = 0;
        }
    }
    rtf.append("}\r\n");
    return rtf;
}

void BM_ReadText(benchmark::State &state)
{
    const QByteArray rtf = make_body(false, 5 * 1024 * 1024);
    for (auto _ : state) {
        QTextDocument doc;
        yunshan::read_rtf(rtf, doc);
        benchmark::DoNotOptimize(doc.characterCount());
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_ReadText)->Unit(benchmark::kMillisecond);

void BM_ReadWithPictures(benchmark::State &state)
{
    const QByteArray rtf = make_body(true, 5 * 1024 * 1024);
    for (auto _ : state) {
        QTextDocument doc;
        const auto result = yunshan::read_rtf(rtf, doc);
        if (result.pictures != 10)
            state.SkipWithError(("pictures: " + std::to_string(result.pictures) + " " +
                                 result.warnings.join(QLatin1Char(' ')).toStdString())
                                    .c_str());
        benchmark::DoNotOptimize(doc.characterCount());
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_ReadWithPictures)->Unit(benchmark::kMillisecond);

// The share of the reading above that is JPEG decoding (not the reader's own work).
void BM_DecodeTenJpegs(benchmark::State &state)
{
    for (auto _ : state)
        for (const QByteArray &j : jpegs())
            benchmark::DoNotOptimize(QImage::fromData(j).width());
}
BENCHMARK(BM_DecodeTenJpegs)->Unit(benchmark::kMillisecond);

// Writing is counted on the input size (the RTF the document was read from), so reading and
// writing figures compare on the same bytes; the output size is shown beside it.
void BM_Write(benchmark::State &state)
{
    const QByteArray rtf = make_body(true, 5 * 1024 * 1024);
    QTextDocument doc;
    yunshan::read_rtf(rtf, doc);
    qsizetype written = 0;
    for (auto _ : state) {
        const QByteArray out = yunshan::write_rtf(doc);
        written = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
    state.counters["output_MB"] = double(written) / (1024 * 1024);
}
BENCHMARK(BM_Write)->Unit(benchmark::kMillisecond);

// A body of tables as the Windows control writes them: rows of four bordered cells with Chinese
// text, a table of 100 rows every few paragraphs, about 2 MB in all.
QByteArray make_table_body()
{
    const QString words[] = {QStringLiteral("项目进度"), QStringLiteral("2024 年"), QStringLiteral("第一阶段开发"),
                             QStringLiteral("镕堃喆 version 1.5")};
    QByteArray cells[4];
    for (int i = 0; i < 4; ++i)
        for (char c : yunshan::unicode_to_ansi(words[i])) {
            const auto b = uchar(c);
            static const char digits[] = "0123456789abcdef";
            if (b < 0x80)
                cells[i].append(c);
            else
                cells[i].append("\\'").append(digits[b >> 4]).append(digits[b & 15]);
        }
    QByteArray def = "\\trowd\\trgaph108\\trleft-108";
    for (int i = 0; i < 4; ++i)
        def += "\\clbrdrl\\brdrw10\\brdrs\\clbrdrt\\brdrw10\\brdrs\\clbrdrr\\brdrw10\\brdrs\\clbrdrb\\brdrw10\\brdrs "
               "\\cellx" +
               QByteArray::number(2000 * (i + 1));
    def += "\r\n";
    QByteArray rtf =
        "{\\rtf1\\ansi\\ansicpg936\\deff0\\nouicompat\\deflang1033\\deflangfe2052{\\fonttbl{\\f0\\fnil"
        "\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}\r\n{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n";
    while (rtf.size() < 2 * 1024 * 1024) {
        rtf += "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang2052 " + cells[2] + "\\par\r\n";
        for (int row = 0; row < 100; ++row) {
            rtf += def + "\\pard\\intbl\\widctlpar\\f0\\fs22 ";
            for (int i = 0; i < 4; ++i)
                rtf += (row % 10 == 0 && i == 0 ? "\\b " + cells[i] + "\\b0" : cells[i]) + "\\cell ";
            rtf += "\\row\r\n";
        }
    }
    rtf += "\\pard\\par\r\n}\r\n";
    return rtf;
}

void BM_ReadTables(benchmark::State &state)
{
    const QByteArray rtf = make_table_body();
    for (auto _ : state) {
        QTextDocument doc;
        yunshan::read_rtf(rtf, doc);
        benchmark::DoNotOptimize(doc.characterCount());
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_ReadTables)->Unit(benchmark::kMillisecond);

void BM_WriteTables(benchmark::State &state)
{
    const QByteArray rtf = make_table_body();
    QTextDocument doc;
    yunshan::read_rtf(rtf, doc);
    for (auto _ : state) {
        const QByteArray out = yunshan::write_rtf(doc);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_WriteTables)->Unit(benchmark::kMillisecond);

// Reference in the same run: Qt's own HTML reader and writer on the same document, counted on
// the same input bytes as the RTF figures above.
void BM_QtHtmlRead(benchmark::State &state)
{
    const QByteArray rtf = make_body(true, 5 * 1024 * 1024);
    QString html;
    {
        QTextDocument doc;
        yunshan::read_rtf(rtf, doc);
        html = doc.toHtml();
    }
    for (auto _ : state) {
        QTextDocument doc;
        doc.setHtml(html);
        benchmark::DoNotOptimize(doc.characterCount());
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
    state.counters["html_MB"] = double(html.size() * 2) / (1024 * 1024);
}
BENCHMARK(BM_QtHtmlRead)->Unit(benchmark::kMillisecond);

void BM_QtHtmlWrite(benchmark::State &state)
{
    const QByteArray rtf = make_body(true, 5 * 1024 * 1024);
    QTextDocument doc;
    yunshan::read_rtf(rtf, doc);
    for (auto _ : state) {
        const QString html = doc.toHtml();
        benchmark::DoNotOptimize(html.constData());
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_QtHtmlWrite)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
