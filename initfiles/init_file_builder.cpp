#include "initfiles/init_file_builder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "initfiles/number_scan.h"
#include "platform/file.h"

namespace quillon {

namespace {

// In init_uploads.txt, an address of all ones says there is none.
constexpr std::uint32_t kNoAddressInFile = 0xFFFFFFFF;
constexpr std::uint32_t kMaxRecordLength = 0xFFFF;
// Block counts and indexes are 16-bit fields.
constexpr std::uint64_t kMaxBlocks = 0xFFFF;
// c_bus.txt values are four hexadecimal digits, the address eight.
constexpr int kBusValueWidth = 4;
constexpr int kAddressWidth = 8;
// Flash that the image does not cover stays erased.
constexpr std::uint8_t kErasedByte = 0xFF;

Fault OpenFailure(const std::string& verb, const std::string& path, const Fault& fault) {
    return {verb + " " + path + ": " + fault.words, fault.code};
}

// Whether a name, put after the folder, leads out of it ("../x").
bool LeavesFolder(const std::string& name) {
    int depth = 0;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("/\\", start);
        end = end == std::string::npos ? name.size() : end;
        std::string part = name.substr(start, end - start);
        if (part == "..") {
            if (--depth < 0) {
                return true;
            }
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

InitFileBuilder::~InitFileBuilder() {
    if (!m_keepFiles && !m_measureOnly) {
        DeleteFiles();
    }
}

void InitFileBuilder::MeasureOnly() {
    m_measureOnly = true;
    m_packet.MeasureOnly();
}

// Once each: the bus file is read twice in an update.
void InitFileBuilder::Warn(const std::string& text) {
    if (std::find(m_warnings.begin(), m_warnings.end(), text) == m_warnings.end()) {
        m_warnings.push_back(text);
    }
}

void InitFileBuilder::NoteByteOrderMark(const TextFile& text, const std::string& path) {
    if (text.SkippedByteOrderMark()) {
        Warn("note: " + path +
             " starts with a UTF-8 byte-order mark (as Windows Notepad writes one); it was "
             "skipped");
    }
}

void InitFileBuilder::SetFolder(const std::string& folder) {
    m_folder = folder;
    m_fileCount = 0;
    m_held.clear();
}

void InitFileBuilder::SetProjectPaths(const std::string& projectPath,
                                      const std::string& imagePath) {
    m_project.SetPaths(projectPath, imagePath);
}

bool InitFileBuilder::LineTooLong(const TextFile& text, const std::string& path, int line) {
    if (!text.LineTooLong()) {
        return false;
    }
    Fail("line " + std::to_string(line) + " of " + path + " is longer than " +
         std::to_string(TextFile::kMaxLine) + " bytes");
    return true;
}

bool InitFileBuilder::Build() {
    m_fault.Clear();
    if (m_folder.empty() && !CheckImageFits()) {
        return false;
    }
    bool ok = WriteBusConfig() && WriteUploads() && WriteExecCommand();
    if (!ok || !m_folder.empty()) {
        return ok;
    }
    return WriteParameters() && WriteBlockCount() && WriteImageBlocks() && WriteEndCommand();
}

bool InitFileBuilder::WriteBusConfig() {
    m_fault.Clear();
    if (m_folder.empty() && !CheckImageFits()) {
        return false;
    }
    std::string path = InputFolder() + "c_bus.txt";
    TextFile text;
    if (!text.Open(path, File::Mode::ReadExisting)) {
        return Fail(OpenFailure("cannot open", path, text.OpenFault()));
    }
    // A group is gathered first so that one too long for a record is
    // refused before its file exists.
    std::vector<std::uint16_t> group;
    std::string line;
    for (int number = 1; text.ReadLine(line); ++number) {
        if (LineTooLong(text, path, number)) {
            return false;
        }
        if (auto value = ScanHexField(line, kBusValueWidth)) {
            // Refused as soon as it is too long, so that a huge file is
            // never gathered into memory whole.
            if (group.size() == kMaxPayload / 2) {
                return Fail("a group of more than " + std::to_string(group.size()) + " values in " +
                            path + " is too long; a record holds at most " +
                            std::to_string(kMaxPayload / 2));
            }
            group.push_back(static_cast<std::uint16_t>(*value));
        } else if (line.empty() && !group.empty()) {
            if (!WriteBusGroup(group, path)) {
                return false;
            }
            group.clear();
        }
    }
    NoteByteOrderMark(text, path);
    return group.empty() || WriteBusGroup(group, path);
}

bool InitFileBuilder::WriteBusGroup(const std::vector<std::uint16_t>& values,
                                    const std::string& source) {
    std::size_t payload = values.size() * 2;
    if (payload > kMaxPayload) {
        return Fail("a group of " + std::to_string(values.size()) + " values in " + source +
                    " is too long; a record holds at most " + std::to_string(kMaxPayload / 2));
    }
    if (!BeginPacket(CMD_CBUS)) {
        return false;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(payload);
    for (std::uint16_t value : values) {
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    m_packet.Write(bytes.data(), bytes.size());
    return EndPacket();
}

bool InitFileBuilder::WriteUploads() {
    m_fault.Clear();
    std::string folder = InputFolder();
    std::string path = folder + "init_uploads.txt";
    TextFile text;
    if (!text.Open(path, File::Mode::ReadExisting)) {
        return Fail(OpenFailure("cannot open", path, text.OpenFault()));
    }
    std::string line;
    if (!text.ReadLine(line)) {
        return true;
    }
    NoteByteOrderMark(text, path);
    if (LineTooLong(text, path, 1)) {
        return false;
    }
    if (auto address = ScanHexField(line, kAddressWidth)) {
        m_execAddress = *address;
        if (*address == kNoAddressInFile) {
            m_execAddress.reset();
        }
    }
    for (int number = 2; text.ReadLine(line); ++number) {
        if (LineTooLong(text, path, number) || !WriteUpload(folder, line, path, number)) {
            return false;
        }
    }
    return true;
}

bool InitFileBuilder::WriteUpload(const std::string& folder, const std::string& name,
                                  const std::string& list, int line) {
    const std::string source = folder + name;
    // A name that does not open as a regular file (missing, a folder, a
    // FIFO, a device) gives an empty payload, so only a real file is measured.
    // The box gets that empty upload, as it always has; the user is told.
    std::uint64_t size = 0;
    File probe;
    const char* why = nullptr;
    if (probe.Open(source, File::Mode::ReadExisting)) {
        size = probe.GetLength();
        probe.Close();
        why = size == 0 ? "is empty" : nullptr;
    } else {
        why = probe.OpenFault().code == ENOENT ? "is missing" : "is not a regular file";
    }
    std::string where =
        "warning: " + list + " line " + std::to_string(line) + ": \"" + name + "\" ";
    if (why != nullptr) {
        Warn(where + why + "; the box gets an empty upload for it");
    }
    if (LeavesFolder(name)) {
        Warn(where + "lies outside the boot folder");
    }
    if (size > kMaxPayload) {
        return Fail("upload file " + source + " is " + std::to_string(size) +
                    " bytes; a record holds at most " + std::to_string(kMaxPayload));
    }
    if (!BeginPacket(CMD_UPLOAD)) {
        return false;
    }
    m_packet.AppendFile(source, kMaxPayload);
    return EndPacket();
}

bool InitFileBuilder::WriteExecCommand() {
    m_fault.Clear();
    if (!m_execAddress) {
        if (!m_folder.empty()) {
            return true;
        }
        return Fail("no execution address: the first line of " + InputFolder() +
                    "init_uploads.txt holds none");
    }
    if (!BeginPacket(CMD_EXEC_ADDRESS)) {
        return false;
    }
    m_packet.WriteDwordBE(*m_execAddress);
    return EndPacket();
}

bool InitFileBuilder::WriteParameters() {
    if (!RequireFullBuild("CMD_PARAMETERS") || !BeginPacket(CMD_PARAMETERS)) {
        return false;
    }
    m_packet.WriteDwordBE(m_project.MrfId());
    m_packet.WriteDwordBE(m_project.ChipId());
    for (int n = 0; n < 4; ++n) {
        m_packet.WriteDwordBE(static_cast<std::uint32_t>(m_project.Gpar(n)));
    }
    return EndPacket();
}

bool InitFileBuilder::WriteBlockCount() {
    if (!RequireFullBuild("CMD_BLOCK_COUNT") || !CheckImageFits() ||
        !BeginPacket(CMD_BLOCK_COUNT)) {
        return false;
    }
    m_packet.WriteWordBE(static_cast<std::uint16_t>(m_project.BlockCount()));
    return EndPacket();
}

bool InitFileBuilder::WriteImageBlocks() {
    if (!RequireFullBuild("CMD_BLOCK_DATA") || !CheckImageFits()) {
        return false;
    }
    std::int32_t size = m_project.BlockSize();
    std::uint64_t count = m_project.BlockCount();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
    m_project.HoldImageOpen();
    struct Release {
        ProjectFile& project;
        ~Release() { project.ReleaseImage(); }
    } release{m_project};
    std::uint64_t offset = 0;
    for (std::uint64_t i = 0;;) {
        if (!BeginPacket(CMD_BLOCK_HEADER)) {
            return false;
        }
        m_packet.WriteWordBE(static_cast<std::uint16_t>(i));
        m_packet.WriteWordBE(1);
        if (!EndPacket() || !BeginPacket(CMD_BLOCK_DATA)) {
            return false;
        }
        std::fill(buffer.begin(), buffer.end(), kErasedByte);
        m_project.ReadImage(static_cast<std::int64_t>(offset), buffer.data(),
                            static_cast<std::uint32_t>(size));
        m_packet.Write(buffer.data(), buffer.size());
        if (!EndPacket()) {
            return false;
        }
        ++i;
        offset += static_cast<std::uint64_t>(size);
        if (i >= count) {
            return true;
        }
    }
}

bool InitFileBuilder::WriteEndCommand() {
    if (!RequireFullBuild("CMD_END") || !BeginPacket(CMD_END)) {
        return false;
    }
    return EndPacket();
}

std::string InitFileBuilder::NextFileName() {
    ++m_fileCount;
    m_lastName = FileName(m_fileCount);
    return m_lastName;
}

std::string InitFileBuilder::OutputFolder() const {
    return m_folder.empty() ? m_project.ProjectFolder() : m_folder;
}

File* InitFileBuilder::Held(std::uint32_t number) const {
    return number < m_held.size() ? m_held[number].get() : nullptr;
}

void InitFileBuilder::Release(std::uint32_t number) {
    if (number < m_held.size()) {
        m_held[number].reset();
    }
}

void InitFileBuilder::DeleteFiles() {
    // Closed first: where an open file cannot be removed, they still go.
    m_held.clear();
    for (std::uint32_t n = m_fileCount; n >= 1; --n) {
        try {
            File::Remove(FileName(n));
        } catch (const FileError&) {
            // Gone already, or not ours to remove: the rest still go.
        }
    }
}

std::string InitFileBuilder::InputFolder() const {
    return m_folder.empty() ? m_project.PersonalFolder() : m_folder;
}

std::string InitFileBuilder::FileName(std::uint32_t number) const {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", static_cast<int>(number));
    return OutputFolder() + digits;
}

bool InitFileBuilder::Fail(std::string reason) {
    return Fail(Fault::Said(std::move(reason)));
}

bool InitFileBuilder::Fail(Fault fault) {
    m_fault = std::move(fault);
    return false;
}

bool InitFileBuilder::BeginPacket(int code) {
    std::string name = NextFileName();
    if (!m_packet.Open(name, m_packetMode)) {
        return Fail(OpenFailure("cannot create", name, m_packet.OpenFault()));
    }
    m_packet.WriteHeader(code);
    m_code = code;
    return true;
}

bool InitFileBuilder::EndPacket() {
    // Sizes are checked before a packet starts; this catches a source that
    // grew meanwhile, so no record with a false length field is left behind.
    std::uint64_t length = m_packet.GetLength();
    if (length > kMaxRecordLength) {
        std::string name = m_packet.Path();
        m_packet.Discard();
        if (!m_measureOnly) {
            File::Remove(name);
        }
        return Fail("record " + name + " would be " + std::to_string(length) +
                    " bytes long; the length field holds at most " +
                    std::to_string(kMaxRecordLength));
    }
    m_packet.PatchLength();
    m_packet.AppendChecksum();
    m_seriesBytes += m_packet.GetLength();
    m_digest.Update(m_packet.Bytes().data(), m_packet.Bytes().size());
    std::string name = m_packet.Path();
    if (m_holdFiles && !m_measureOnly && m_fileCount <= kMostHeld) {
        m_held.resize(m_fileCount + 1);
        m_held[m_fileCount] = m_packet.CloseKeeping();
    } else {
        m_packet.Close();
    }
    if (m_onRecord) {
        m_onRecord(name, m_code, static_cast<std::uint16_t>(length));
    }
    return true;
}

bool InitFileBuilder::RequireFullBuild(const char* what) {
    m_fault.Clear();
    if (m_folder.empty()) {
        return true;
    }
    return Fail(std::string("only the full build writes ") + what);
}

bool InitFileBuilder::CheckImageFits() {
    std::int32_t size = m_project.BlockSize();
    if (!RequirePositiveBlockSize(size)) {
        return false;
    }
    if (static_cast<std::uint32_t>(size) > kMaxPayload) {
        return Fail("block size " + std::to_string(size) + " of " + m_project.ProjectPath() +
                    " is too large; a record holds at most " + std::to_string(kMaxPayload));
    }
    std::uint64_t count = m_project.BlockCount();
    if (count > kMaxBlocks) {
        return Fail("image " + m_project.ImagePath() + " of " +
                    std::to_string(m_project.ImageSize()) + " bytes makes " +
                    std::to_string(count) + " blocks of " + std::to_string(size) +
                    " bytes; the block count field holds at most " + std::to_string(kMaxBlocks));
    }
    return true;
}

bool InitFileBuilder::RequirePositiveBlockSize(std::int32_t size) {
    if (size > 0) {
        return true;
    }
    return Fail("block size " + std::to_string(size) + " (\"GPAR 0\" of " +
                m_project.ProjectPath() + ") is not positive");
}

}  // namespace quillon
