// Runs the fuzz target once over every file of the folders (or files) given
// on the command line, without libFuzzer; with no arguments over the seed
// corpus and the saved reproducers, which makes them a regression test of
// the ordinary builds.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// The replay keeps the real pacing.
bool fuzzPacingSkipped() { return false; }

int main(int argc, char **argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    QStringList paths;
    for (int i = 1; i < argc; ++i)
        paths << QFile::decodeName(argv[i]);
    if (paths.isEmpty()) {
        // The reproducers' folder exists once the first one is saved.
        paths << QStringLiteral(ARVEX_FUZZ_SOURCE_DIR "/corpus");
        if (QFileInfo::exists(QStringLiteral(ARVEX_FUZZ_SOURCE_DIR "/regressions")))
            paths << QStringLiteral(ARVEX_FUZZ_SOURCE_DIR "/regressions");
    }
    QStringList files;
    for (const QString &path : qAsConst(paths)) {
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
        } else {
            files << path;
        }
    }
    files.sort();
    if (files.isEmpty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 1;
    }
    for (const QString &path : qAsConst(files)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "replay: cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QByteArray bytes = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                               size_t(bytes.size()));
    }
    std::printf("replay: %d inputs, no failure\n", int(files.size()));
    return 0;
}
