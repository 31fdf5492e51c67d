// One saved oscilloscope setup (".scp"): a few identifying texts and the
// setup bytes exactly as the instrument delivered them, with the file format
// that keeps them. The save action fills a record from the scope and writes
// it; the restore action checks a file, reads it, checks the model and sends
// the setup bytes back.
//
// File layout: a text part of 13 fields, each followed by "|", with no line
// breaks, then the setup bytes and nothing after them:
//   headerLength|scp|1|model|manufacturer|serial|firmware|comments|
//   RVM Standard Setup File, Version: 1|reserved1|reserved2|reserved3|dataLength|<bytes>
// headerLength counts every byte of the text part, its own digits and all 13
// separators included. Texts are kept as the bytes given (one byte per
// character), so the count is a byte count.
//
// Reading never trusts the file: every field, both lengths and the size are
// checked against the bytes actually present, and anything wrong is a
// cvn::Error that names the file and the fault. The header text (field 9)
// is read and not judged, and bytes after the setup data are ignored. A failed read leaves the
// record as it was; a failed write leaves an existing file as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/Error.h"

namespace cvn {

// Error numbers of the setup file, in the style the error handler reports.
inline constexpr int32_t kSetupFileBadValue = 5;         // a field the format cannot hold
inline constexpr int32_t kSetupFileNotFound = 53;        // no such file
inline constexpr int32_t kSetupFileIoFailure = 57;       // read or write failed midway
inline constexpr int32_t kSetupFileAccess = kPathError;  // folder, device, permission, no folder
inline constexpr int32_t kSetupFileBadFormat = 321;      // not a (sound) setup file
inline constexpr const char* kSetupFileErrorSource = "cvnWCHalv";

class CSetupFile {
public:
    // The file type and format version that make a file compatible, and
    // the identity text of field 9.
    static constexpr std::string_view kFileType = "scp";
    static constexpr std::string_view kFormatVersion = "1";
    static constexpr std::string_view kIdentityText = "RVM Standard Setup File, Version: 1";
    static constexpr std::string_view kDefaultManufacturer = "Corvane Technologies";

    // Far above any real setup (a scope delivers well under 1 MB), low
    // enough that a hostile length cannot make us allocate without bound.
    static constexpr std::size_t kMaxLearnStringBytes = 16u * 1024u * 1024u;
    static constexpr std::size_t kMaxHeaderBytes = 64u * 1024u;
    static constexpr std::size_t kMaxFileBytes = kMaxHeaderBytes + kMaxLearnStringBytes;

    CSetupFile() = default;

    const std::string& model() const { return model_; }
    void setModel(std::string value) { model_ = std::move(value); }
    const std::string& Manufacturer() const { return manufacturer_; }
    void setManufacturer(std::string value) { manufacturer_ = std::move(value); }
    const std::string& version() const { return version_; }
    void setVersion(std::string value) { version_ = std::move(value); }
    const std::string& UserComments() const { return userComments_; }
    void setUserComments(std::string value) { userComments_ = std::move(value); }
    const std::string& SerialNumber() const { return serialNumber_; }
    void setSerialNumber(std::string value) { serialNumber_ = std::move(value); }
    const std::string& ReservedField1() const { return reserved1_; }
    void setReservedField1(std::string value) { reserved1_ = std::move(value); }
    const std::string& ReservedField2() const { return reserved2_; }
    void setReservedField2(std::string value) { reserved2_ = std::move(value); }
    const std::string& ReservedField3() const { return reserved3_; }
    void setReservedField3(std::string value) { reserved3_ = std::move(value); }

    // The setup bytes; empty means "no setup" (written with data length 0).
    const std::vector<uint8_t>& LearnString() const { return learnString_; }
    void setLearnString(std::vector<uint8_t> bytes) { learnString_ = std::move(bytes); }
    bool hasLearnString() const { return !learnString_.empty(); }

    // The whole file as bytes. Throws cvn::Error (kSetupFileBadValue) when a
    // text holds "|" (it could not be read back) or a part exceeds its limit;
    // name is only used in that message.
    std::vector<uint8_t> serialize(std::string_view name = "(in memory)") const;

    // Reads a complete file image. Throws cvn::Error naming `name` and the
    // fault when the bytes are not a sound setup file of format version 1
    // (whatever its header text; bytes after the setup data are ignored).
    static CSetupFile parse(std::span<const uint8_t> bytes, std::string_view name = "(in memory)");

    // True when the bytes start like a setup file of type "scp" and format
    // version "1" (both ignoring case). Only those two fields count: the
    // restore action uses this as its quick "is this one of ours" test
    // before the full read.
    static bool IsCompatible(std::span<const uint8_t> bytes) noexcept;
    // The same for a file; any failure (missing, a folder, unreadable,
    // too short) is false. Never throws.
    static bool IsACompatibleFile(const std::string& path) noexcept;

    // Replaces every field and the setup bytes with the file's contents.
    // Throws cvn::Error on any fault; the record is then unchanged.
    void ReadFile(const std::string& path);

    // Writes the record with the rules of support/AtomicFile.h: atomically
    // for a file (a symbolic link is written through), directly to a device
    // or pipe. Throws cvn::Error on any fault; an existing file at path is
    // then untouched and no temporary file is left behind.
    void WriteFile(const std::string& path) const;

    bool operator==(const CSetupFile&) const = default;

private:
    std::string model_;
    std::string manufacturer_{kDefaultManufacturer};
    std::string version_;
    std::string userComments_;
    std::string serialNumber_;
    std::string reserved1_;
    std::string reserved2_;
    std::string reserved3_;
    std::vector<uint8_t> learnString_;
};

// Header length for a text part whose fields 2 to 13 with their separators
// take restBytes bytes: the total must include its own decimal digits.
std::size_t SetupHeaderLength(std::size_t restBytes);

}  // namespace cvn
