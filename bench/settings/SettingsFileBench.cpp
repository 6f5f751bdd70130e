// What a settings file costs a detection: opening it and the reads of one
// load, for the real file, the largest file still taken (blank lines up to
// the size limit) and a hostile 50 MB one, which is refused by its size.
#include "settings/TSettingsFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

const QString Module = QStringLiteral("Модуль KM808");

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        std::abort();
}

// Open and about as many key reads as one load makes.
void OpenAndLoad(benchmark::State& state, const QByteArray& content) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Km808_Viza.ini");
    WriteFile(path, content);
    for (auto _ : state) {
        auto f = TSettingsFile::Open(path);
        int32_t sum = 0;
        if (f)
            for (int i = 0; i < 90; ++i)
                sum +=
                    f->ReadInteger(Module, QStringLiteral("АЦП. Управление каналом %1").arg(i % 16 + 1), 0);
        benchmark::DoNotOptimize(sum);
    }
}

void BM_RealSizedFile(benchmark::State& state) {
    QByteArray cp = QByteArray(5000, 'k');
    for (int i = 0; i < 100; ++i)
        cp[i * 50 + 49] = '\n';
    OpenAndLoad(state, "[a]\r\n" + cp);
}
BENCHMARK(BM_RealSizedFile)->Unit(benchmark::kMillisecond);

void BM_BlankLinesAtTheLimit(benchmark::State& state) {
    OpenAndLoad(state, QByteArray(TSettingsFile::MaxFileBytes, '\n'));
}
BENCHMARK(BM_BlankLinesAtTheLimit)->Unit(benchmark::kMillisecond);

void BM_FiftyMegabytesOfBlankLines(benchmark::State& state) {
    OpenAndLoad(state, QByteArray(50 * 1024 * 1024, '\n'));
}
BENCHMARK(BM_FiftyMegabytesOfBlankLines)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
