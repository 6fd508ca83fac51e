// The fuzz target's temporary root and the checking driver proxy.
#include "fuzzworld.h"

#include "cameradevice.h"
#include "fuzzfailure.h"
#include "protocol.h"
#include "rawfile.h"
#include "testpattern.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t kParameterMaxWidth = 14;
constexpr uint32_t kParameterMaxHeight = 15;
constexpr uint32_t kSettingWidth = 109;
constexpr uint32_t kSettingHeight = 110;
// Frames of a memory recording: saving one writes every frame to disk, and
// without frame waits a grab fills gigabytes of simulated memory at once.
constexpr uint32_t kMaxGrabFrames = 16;

// The proxy's state: read by the driver functions below.
DriverTable simulator;
DriverTable proxy;
uint32_t capWidth = 0;
uint32_t capHeight = 0;
QStringList volumeRoots;  // canonical
QString volumeLetters;

// Where `path` (absolute) really leads: the deepest existing ancestor with
// every link resolved, the rest appended. Empty when a link on the way
// dangles or a component is "..".
QString resolved(const QString &path)
{
    QString existing = QDir::cleanPath(path);
    QString rest;
    if (path.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return QString();
    for (;;) {
        struct stat info;
        const QByteArray native = QFile::encodeName(existing);
        if (::lstat(native.constData(), &info) == 0) {
            char buffer[PATH_MAX];
            if (!::realpath(native.constData(), buffer))
                return QString();  // a dangling link: where it points is unknown
            return QFile::decodeName(buffer) + rest;
        }
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return QString();
        rest = existing.mid(slash) + rest;
        existing.truncate(slash);
    }
}

bool insideAVolume(const QString &path)
{
    const QString real = resolved(path);
    if (real.isEmpty())
        return false;
    // The volume itself only names a folder, which no file can replace.
    for (const QString &root : qAsConst(volumeRoots)) {
        if (real == root || real.startsWith(root + QLatin1Char('/')))
            return true;
    }
    return false;
}

// The NUL-terminated text of a field, or a null array when it has no NUL.
QByteArray field(const uint8_t *data, size_t size)
{
    const void *nul = std::memchr(data, 0, size);
    if (!nul)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(data),
                      int(static_cast<const uint8_t *>(nul) - data));
}

uint32_t proxyGetParameter(ArvexHandle handle, uint32_t id, void *out1, void *out2)
{
    const uint32_t status = simulator.getParameter(handle, id, out1, out2);
    if (status == 0 && capWidth && out1) {
        auto *value = static_cast<uint32_t *>(out1);
        if (id == kParameterMaxWidth)
            *value = std::min(*value, capWidth);
        else if (id == kParameterMaxHeight)
            *value = std::min(*value, capHeight);
    }
    return status;
}

// The camera starts at the reported size instead of its own 1280 x 1024;
// a client may still set it larger.
void shrink(ArvexHandle handle, uint8_t *settings)
{
    if (!capWidth)
        return;
    uint32_t width = 0;
    uint32_t height = 0;
    simulator.getSetting(handle, settings, kSettingWidth, &width);
    simulator.getSetting(handle, settings, kSettingHeight, &height);
    if (width > capWidth)
        simulator.setSetting(handle, settings, kSettingWidth, capWidth);
    if (height > capHeight)
        simulator.setSetting(handle, settings, kSettingHeight, capHeight);
}

uint32_t proxyReadDefaultSettings(ArvexHandle handle, uint8_t *settings)
{
    const uint32_t status = simulator.readDefaultSettings(handle, settings);
    if (status == 0)
        shrink(handle, settings);
    return status;
}

uint32_t proxyReadSettingsFromFlash(ArvexHandle handle, uint8_t *settings)
{
    const uint32_t status = simulator.readSettingsFromFlash(handle, settings);
    if (status == 0)
        shrink(handle, settings);
    return status;
}

uint32_t proxyStartMemoryGrab(ArvexHandle handle, uint32_t zero1, uint32_t zero2, uint32_t a,
                              uint32_t b, ArvexGrabFinishedCallback callback, uint32_t three,
                              void *context)
{
    const uint32_t frames = (a == 0 || a > kMaxGrabFrames) ? kMaxGrabFrames : a;
    return simulator.startMemoryGrab(handle, zero1, zero2, frames, b, callback, three, context);
}

uint32_t proxySaveToFile(ArvexHandle handle, const char *path, uint32_t zero1, uint32_t zero2,
                         uint32_t a, uint32_t b, uint32_t c)
{
    if (!path)
        fuzzFailure("saveToFile without a path", QString());
    const QString file = QString::fromLatin1(path);
    if (!file.startsWith(QLatin1Char('/')) || !insideAVolume(file))
        fuzzFailure("saveToFile outside the recording volumes", file);
    return simulator.saveToFile(handle, path, zero1, zero2, a, b, c);
}

uint32_t proxySetWriteToDisk(ArvexHandle handle, uint32_t start, uint8_t *request,
                             ArvexW2dProgressCallback callback, void *context)
{
    if (start != 0) {
        if (!request)
            fuzzFailure("write-to-disk start without a record", QString());
        const uint32_t count = readU32(request, ARVEX_W2D_REQUEST_SIZE, 8);
        if (count < 1 || count > 4)
            fuzzFailure("write-to-disk start with a volume count outside 1..4",
                        QString::number(count));
        const QByteArray folder = field(request + 268, 512);
        if (folder.isNull())
            fuzzFailure("write-to-disk folder without a NUL", QString());
        const QString relative = QString::fromLatin1(folder).replace(QLatin1Char('\\'),
                                                                     QLatin1Char('/'));
        // "&:" or "1:" name a folder; a letter and a colon name a drive.
        const bool drive = relative.size() >= 2 && relative.at(1) == QLatin1Char(':')
                           && relative.at(0).unicode() < 128 && relative.at(0).isLetter();
        if (relative.isEmpty() || relative.startsWith(QLatin1Char('/')) || drive)
            fuzzFailure("write-to-disk folder not relative", relative);
        for (uint32_t i = 0; i < count; ++i) {
            const QByteArray slot = field(request + 12 + 64 * i, 64);
            if (slot.size() != 3 || slot.at(1) != ':' || slot.at(2) != '\\'
                || !volumeLetters.contains(QLatin1Char(slot.at(0))))
                fuzzFailure("write-to-disk slot is not the root of a volume",
                            QString::fromLatin1(slot));
            const QString first = volumeRoots.at(volumeLetters.indexOf(QLatin1Char(slot.at(0))))
                                  + QLatin1Char('/') + relative + QStringLiteral(".00.raw");
            if (!insideAVolume(first))
                fuzzFailure("write-to-disk recording outside its volume", first);
        }
    }
    return simulator.setWriteToDisk(handle, start, request, callback, context);
}

void writeRawFile(const QString &path, uint32_t width, uint32_t height, uint32_t bits,
                  uint32_t frames)
{
    QDir().mkpath(QFileInfo(path).path());
    RawFileWriter writer;
    QString error;
    if (!writer.create(path, makeRawFileHeader(width, height, bits), &error))
        fuzzFailure("cannot create a raw file", error);
    std::vector<uint8_t> frame(imageBytesFor(width, height, bits));
    for (uint32_t k = 0; k < frames; ++k) {
        renderTestPattern(frame.data(), width, height, bits, k);
        writer.appendFrame(frame.data());
    }
}

bool makeLink(const QString &target, const QString &link)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData())
           == 0;
}

}  // namespace

FuzzWorld &FuzzWorld::instance()
{
    static FuzzWorld world;
    return world;
}

namespace {

// A memory file system when there is one: inputs make and remove thousands
// of folders, which on a disk costs more than the rest of an execution.
QString temporaryBase()
{
    const QByteArray chosen = qgetenv("ARVEX_FUZZ_TMP");
    if (!chosen.isEmpty())
        return QFile::decodeName(chosen);
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
}

}  // namespace

FuzzWorld::FuzzWorld() : root(temporaryBase() + QStringLiteral("/arvex-fuzz-XXXXXX"))
{
    if (!root.isValid())
        fuzzFailure("no temporary folder", root.errorString());
    rootPath = QFileInfo(root.path()).canonicalFilePath();
    QDir dir(rootPath);
    for (const char *name : {"outside", "raw", "volD", "volE"})
        dir.mkpath(QLatin1String(name));
    QFile marker(rootPath + QStringLiteral("/outside/marker"));
    marker.open(QIODevice::WriteOnly);
    marker.write("outside every volume\n");
    marker.close();
    writeRawFile(rootPath + QStringLiteral("/raw/take1.raw"), 64, 32, 8, 3);
    writeRawFile(rootPath + QStringLiteral("/raw/deep/rgb48.raw"), 17, 13, 48, 2);
    writeRawFile(rootPath + QStringLiteral("/raw/mono12.raw"), 40, 8, 12, 4);
    QFile broken(rootPath + QStringLiteral("/raw/broken.raw"));
    broken.open(QIODevice::WriteOnly);
    broken.write("ARVEXRAW\x01");
    broken.close();
    recordingVolumes = {RecordingVolume{QLatin1Char('D'), rootPath + QStringLiteral("/volD")},
                        RecordingVolume{QLatin1Char('E'), rootPath + QStringLiteral("/volE")}};
    volumeRoots = QStringList{rootPath + QStringLiteral("/volD"), rootPath + QStringLiteral("/volE")};
    volumeLetters = QStringLiteral("DE");
    makeVolumes();
    initialOutside = outsideListing();
    // Every folder and file outside the volumes, the root included.
    outsidePaths << rootPath;
    for (const QString &line : qAsConst(initialOutside)) {
        const QString relative = line.section(QLatin1Char(' '), 0, 0);
        if (relative != QLatin1String("/volD") && relative != QLatin1String("/volE"))
            outsidePaths << rootPath + relative;
    }
    outsideStamps = stamps(outsidePaths);

    simulator = simulatedDriverTable();
    proxy = simulator;
    proxy.getParameter = proxyGetParameter;
    proxy.readDefaultSettings = proxyReadDefaultSettings;
    proxy.readSettingsFromFlash = proxyReadSettingsFromFlash;
    proxy.startMemoryGrab = proxyStartMemoryGrab;
    proxy.saveToFile = proxySaveToFile;
    proxy.setWriteToDisk = proxySetWriteToDisk;
}

const DriverTable &FuzzWorld::driver() const { return proxy; }

QVector<QPair<QString, QString>> FuzzWorld::volumeLinks() const
{
    const QString d = rootPath + QStringLiteral("/volD");
    const QString e = rootPath + QStringLiteral("/volE");
    // Links that lead out: a folder, a dangling first file of a recording
    // named "rec", and the root itself; one that stays inside.
    return {{d + QStringLiteral("/out"), rootPath + QStringLiteral("/outside")},
            {d + QStringLiteral("/rec.00.raw"), rootPath + QStringLiteral("/outside/rec.00.raw")},
            {d + QStringLiteral("/up"), rootPath},
            {e + QStringLiteral("/self"), e}};
}

QStringList FuzzWorld::stamps(const QStringList &paths)
{
    // Creating, removing or renaming an entry changes its folder's times;
    // writing a file changes the file's. Far cheaper than a listing.
    QStringList out;
    for (const QString &path : paths) {
        struct stat info;
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
            out << QStringLiteral("missing");
            continue;
        }
        out << QStringLiteral("%1 %2.%3 %4.%5 %6")
                   .arg(info.st_ino)
                   .arg(info.st_mtim.tv_sec)
                   .arg(info.st_mtim.tv_nsec)
                   .arg(info.st_ctim.tv_sec)
                   .arg(info.st_ctim.tv_nsec)
                   .arg(info.st_size);
    }
    return out;
}

void FuzzWorld::makeVolumes()
{
    for (const RecordingVolume &volume : qAsConst(recordingVolumes))
        QDir().mkpath(volume.folder);
    for (const auto &link : volumeLinks()) {
        if (!makeLink(link.second, link.first))
            fuzzFailure("cannot make the links of the volumes", link.first);
    }
    volumeStamps = stamps({recordingVolumes.at(0).folder, recordingVolumes.at(1).folder});
}

QStringList FuzzWorld::outsideListing() const
{
    // Everything below the root except the volumes' contents: names, kinds
    // and sizes. Links are listed, not followed.
    QStringList listing;
    QDirIterator it(rootPath, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(rootPath.size());
        if (relative.startsWith(QLatin1String("/volD/")) || relative.startsWith(QLatin1String("/volE/")))
            continue;
        const QFileInfo info = it.fileInfo();
        listing << QStringLiteral("%1 %2 %3")
                       .arg(relative)
                       .arg(info.isSymLink() ? QStringLiteral("link") : info.isDir() ? QStringLiteral("dir") : QStringLiteral("file"))
                       .arg(info.isSymLink() || info.isDir() ? 0 : info.size());
    }
    listing.sort();
    return listing;
}

void FuzzWorld::beginInput(const FuzzConfig &config)
{
    // A relative path that escaped confinement would land in the working
    // directory, which libFuzzer leaves alone while an input runs.
    workingStamp = stamps({QStringLiteral(".")});
    capWidth = config.maxWidth;
    capHeight = config.maxHeight;
    const QByteArray raw = QFile::encodeName(rootPath + QStringLiteral("/raw"));
    const QByteArray volumes = QFile::encodeName(QStringLiteral("D=%1/volD\nE=%1/volE\n").arg(rootPath));
    simulator.setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 0, 0);
    simulator.setDriverOption(nullptr, ARVEX_OPTION_SIM_CAMERAS, config.cameras, 0);
    simulator.setDriverOption(nullptr, ARVEX_OPTION_MEMORY_MB, 0, 0);
    simulator.setDriverOption(nullptr, ARVEX_OPTION_RAW_FOLDER, reinterpret_cast<uintptr_t>(raw.constData()), 0);
    simulator.setDriverOption(nullptr, ARVEX_OPTION_VOLUMES, reinterpret_cast<uintptr_t>(volumes.constData()), 0);
}

void FuzzWorld::endInput()
{
    if (stamps({QStringLiteral(".")}) != workingStamp)
        fuzzFailure("something changed in the working directory", QDir::currentPath());
    const QStringList nowStamps = stamps(outsidePaths);
    if (nowStamps != outsideStamps) {
        const QStringList now = outsideListing();
        QStringList changes;
        for (const QString &line : now)
            if (!initialOutside.contains(line))
                changes << QStringLiteral("+") + line;
        for (const QString &line : initialOutside)
            if (!now.contains(line))
                changes << QStringLiteral("-") + line;
        for (int i = 0; i < outsidePaths.size(); ++i)
            if (nowStamps.at(i) != outsideStamps.at(i))
                changes << QStringLiteral("modified ") + outsidePaths.at(i);
        fuzzFailure("something changed outside the recording volumes",
                    changes.join(QLatin1Char(' ')));
    }
    // The volumes back to their links alone, when the input touched them.
    if (stamps({recordingVolumes.at(0).folder, recordingVolumes.at(1).folder}) != volumeStamps) {
        QDir(rootPath + QStringLiteral("/volD")).removeRecursively();
        QDir(rootPath + QStringLiteral("/volE")).removeRecursively();
        makeVolumes();
        // Making the volumes again changed the root's own times.
        outsideStamps = stamps(outsidePaths);
    }
}
