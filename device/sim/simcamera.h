// The simulated camera as a pure model: identities, limits, the settings
// record's layout and checks, parameter values. No state, no locking; the
// driver (simdriver.*) keeps the state and calls these.
#ifndef ARVEX_DEVICE_SIM_SIMCAMERA_H
#define ARVEX_DEVICE_SIM_SIMCAMERA_H

#include "arvexdriver.h"
#include "rawfile.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace sim {

constexpr int kMaxCameras = 4;
constexpr uint32_t kMaxWidth = 1280;
constexpr uint32_t kMaxHeight = 1024;
constexpr uint32_t kFramesPerSecond = 100;
constexpr uint32_t kNominalFrameUs = 1000000 / kFramesPerSecond;
constexpr uint32_t kDefaultMemoryMb = 2048;   // option 10 left at 0
constexpr uint32_t kMaxMemoryMb = 65536;
constexpr uint32_t kCameraIdBase = 0x100;     // camera i: 0x100 + i
constexpr uint32_t kRawIdBase = 0x10000;      // raw file i: 0x10000 | i
constexpr uint32_t kMaxRawFiles = 65536;      // the index lives in 16 bits
constexpr uint32_t kTemperatureTenths = 350;  // 35.0 degrees C
constexpr uint32_t kMicroblazeVersion = 0x00010203;
constexpr uint32_t kFirmwareVersion = 0x00020001;
constexpr uint32_t kInterfaceWord = 4;        // DeviceInfo word 24 (shown less 3: 1)

// Driver status codes (0 is success).
enum Status : uint32_t {
    Ok = 0,
    BadHandle = 1,
    BadArgument = 2,
    Busy = 3,
    NotSupported = 4,
    OutOfRange = 5,
    IoError = 6,
    NotFound = 7,
};

// Setting ids of the record (getSetting / setSetting / querySetting).
enum SettingId : uint32_t {
    SettingBitsPerPixel = 3,
    SettingWidth = 109,
    SettingHeight = 110,
    SettingExposureUs = 111,
    SettingGainDb = 112,
    SettingTriggerMode = 113,
    SettingFrameRate = 114,
};

// Selectors of querySetting (second argument).
enum QuerySelector : uint32_t {
    QueryMinimum = 0,
    QueryMaximum = 1,
    QueryDefault = 2,
    QueryStep = 3,          // 0 for a list of discrete values
    QueryWritable = 4,      // 1 or 0
    QueryValueCount = 5,    // number of discrete values, 0 for a range
    QueryValueBase = 0x100, // 0x100 + i: discrete value i
};

// Geometry and depth of the frames a device produces.
struct Format {
    uint32_t width = kMaxWidth;
    uint32_t height = kMaxHeight;
    uint32_t bitsPerPixel = 8;

    uint32_t bytes() const;
    bool operator==(const Format &o) const
    {
        return width == o.width && height == o.height && bitsPerPixel == o.bitsPerPixel;
    }
    bool operator!=(const Format &o) const { return !(*this == o); }
};

// What the settings record carries.
struct Settings {
    Format format;
    uint32_t exposureUs = 5000;
    uint32_t gainDb = 0;
    uint32_t triggerMode = 0;
    uint32_t frameRate = kFramesPerSecond;
};

// What a device allows: a camera (1280 x 1024, the six depths) or a raw file
// (its own format, fixed).
struct Limits {
    uint32_t maxWidth = kMaxWidth;
    uint32_t maxHeight = kMaxHeight;
    bool fixedFormat = false;
    Format fixed;

    static Limits camera() { return Limits(); }
    static Limits rawFile(const RawFileHeader &header);
    Settings defaults() const;
};

namespace SettingsOffset {
constexpr int Size = 0;
constexpr int Layout = 4;
constexpr int BitsPerPixel = 8;
constexpr int Width = 12;
constexpr int Height = 16;
constexpr int ExposureUs = 20;
constexpr int GainDb = 24;
constexpr int TriggerMode = 28;
constexpr int FrameRate = 32;
}  // namespace SettingsOffset
constexpr uint32_t kSettingsLayout = 1;

bool cameraDepthSupported(uint32_t bitsPerPixel);

// Writes the whole record: size word, layout, values, zero elsewhere.
void encodeSettings(const Settings &settings, uint8_t *record);
Settings decodeSettings(const uint8_t *record);
// True when the first word is the record's size (1024).
bool settingsRecordValid(const uint8_t *record);

// The record offset of a setting id, or -1 for an unknown id.
int settingOffset(uint32_t id);
// Checks a whole settings set against the limits; `reason` names the field.
bool settingsAllowed(const Settings &settings, const Limits &limits, QString *reason);
// Checks one value and returns the settings with it applied.
Status applySetting(const Settings &current, const Limits &limits, uint32_t id, uint32_t value,
                    Settings *result);
// querySetting for a setting id and selector.
Status querySetting(const Limits &limits, uint32_t id, uint32_t selector, uint32_t *out);

// DeviceInfo records.
uint32_t cameraModelCode(int index);
uint32_t cameraSerial(int index);
void fillCameraInfo(int index, uint8_t *record);
void fillRawFileInfo(uint32_t index, const RawFileHeader &header, const QString &text,
                     uint8_t *record);

// Parameters 35 and 1016 (texts) and 1013 (28 bytes).
constexpr uint32_t kParameterMaxWidth = 14;
constexpr uint32_t kParameterMaxHeight = 15;
constexpr uint32_t kParameterCalibration = 19;
constexpr uint32_t kParameterDescription = 35;
constexpr uint32_t kParameterSensorBlock = 1013;
constexpr uint32_t kParameterDriverVersion = 1016;
constexpr uint32_t kSensorBlockSize = 28;
bool parameterReadOnly(uint32_t id);
QByteArray driverVersionText();
void fillSensorBlock(const Limits &limits, uint32_t memoryMb, uint32_t serial, uint8_t *out);

}  // namespace sim

#endif
