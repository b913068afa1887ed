#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "initfiles/packet_file.h"
#include "initfiles/wire.h"
#include "platform/digest.h"
#include "platform/file.h"

namespace quillon::cli {

namespace {

enum InspectExit {
    kAllWellFormed = 0,
    kMalformed = 1,
    kUnreadable = 2,
};

// Values shown of a long payload before it is cut short.
constexpr std::size_t kShownValues = 8;

// The payload size a command must have; -1 where any size will do.
long ExpectedPayload(int code) {
    switch (code) {
        case CMD_EXEC_ADDRESS:
            return 4;
        case CMD_PARAMETERS:
            return 24;
        case CMD_BLOCK_COUNT:
            return 2;
        case CMD_BLOCK_HEADER:
            return 4;
        case CMD_END:
            return 0;
        default:
            return -1;
    }
}

std::string WordList(const std::uint8_t* p, std::size_t n) {
    std::ostringstream out;
    for (std::size_t i = 0; i + 1 < n && i / 2 < kShownValues; i += 2) {
        out << (i ? " " : "") << Hex(ReadWordBE(p + i), 4);
    }
    if (n / 2 > kShownValues) {
        out << " ...";
    }
    return out.str();
}

std::string ByteList(const std::uint8_t* p, std::size_t n) {
    std::ostringstream out;
    for (std::size_t i = 0; i < n && i < kShownValues; ++i) {
        char text[4];
        std::snprintf(text, sizeof text, "%02X", p[i]);
        out << (i ? " " : "") << text;
    }
    if (n > kShownValues) {
        out << " ...";
    }
    return out.str();
}

std::string Summary(int code, const std::uint8_t* p, std::size_t n) {
    std::ostringstream out;
    out << n << " payload bytes";
    if (n != 0 && ExpectedPayload(code) == static_cast<long>(n)) {
        switch (code) {
            case CMD_EXEC_ADDRESS:
                out << ": address " << Hex(ReadDwordBE(p), 8);
                break;
            case CMD_BLOCK_COUNT:
                out << ": " << ReadWordBE(p) << " blocks";
                break;
            case CMD_BLOCK_HEADER:
                out << ": block " << ReadWordBE(p) << ", " << ReadWordBE(p + 2);
                break;
            case CMD_PARAMETERS:
                out << ": MRF.ID " << Hex(ReadDwordBE(p), 8) << ", ChipID "
                    << Hex(ReadDwordBE(p + 4), 8);
                for (int g = 0; g < 4; ++g) {
                    out << ", GPAR " << g << " "
                        << static_cast<std::int32_t>(ReadDwordBE(p + 8 + 4 * g));
                }
                break;
        }
    } else if (code == CMD_CBUS && n > 0) {
        out << ": " << WordList(p, n);
    } else if (n > 0) {
        out << ": " << ByteList(p, n);
    }
    return out.str();
}

// The faults that make the box refuse the record, empty when there are none.
std::vector<std::string> Faults(const RecordCheck& check, std::size_t size) {
    std::vector<std::string> faults;
    if (!check.complete) {
        faults.push_back("only " + std::to_string(size) + " bytes; a record has at least " +
                         std::to_string(kMinRecordSize));
        return faults;
    }
    if (!check.syncOk) {
        faults.push_back("first byte is not the sync byte 0xAA");
    }
    if (!check.codeKnown) {
        faults.push_back("unknown command code " + Hex(static_cast<std::uint32_t>(check.code), 2));
    }
    if (!check.lengthOk) {
        faults.push_back("length field " + std::to_string(check.lengthField) +
                         " does not match the file's " + std::to_string(size) +
                         " bytes (expected " + std::to_string(size - kRecordChecksumSize) + ")");
    }
    long expected = ExpectedPayload(check.code);
    if (check.codeKnown && ((expected >= 0 && static_cast<long>(check.payloadSize) != expected) ||
                            (check.code == CMD_CBUS && check.payloadSize % 2 != 0))) {
        faults.push_back("payload of " + std::to_string(check.payloadSize) +
                         " bytes does not suit the command");
    }
    if (!check.checksumOk) {
        faults.push_back("checksum " + Hex(check.storedChecksum, 8) + " should be " +
                         Hex(check.expectedChecksum, 8));
    }
    return faults;
}

// Prints one file's record, and adds its bytes to the identity; its exit code.
int InspectFile(const std::string& path, Sha256& identity) {
    std::vector<std::uint8_t> bytes;
    int openError = 0;
    try {
        if (!LoadRecordFile(path, bytes, openError)) {
            std::cerr << "cannot open " << path << ": " << std::strerror(openError) << '\n';
            return kUnreadable;
        }
    } catch (const FileError& error) {
        std::cerr << error.what() << '\n';
        return kUnreadable;
    }
    identity.Update(bytes.data(), bytes.size());
    RecordCheck check = CheckRecord(bytes.data(), bytes.size());
    const char* name = CommandName(check.code);
    std::cout << path << ": " << (name ? name : "unknown") << " ("
              << Hex(static_cast<std::uint32_t>(check.code < 0 ? 0 : check.code), 2) << "), length "
              << check.lengthField << ", " << bytes.size() << " bytes";
    if (check.complete) {
        std::cout << ", "
                  << Summary(check.code, bytes.data() + kRecordHeaderSize, check.payloadSize)
                  << ", checksum " << Hex(check.storedChecksum, 8);
    }
    std::vector<std::string> faults = Faults(check, bytes.size());
    std::cout << (faults.empty() ? "  ok" : "  MALFORMED") << '\n';
    for (const std::string& fault : faults) {
        std::cout << "  " << fault << '\n';
    }
    return faults.empty() ? kAllWellFormed : kMalformed;
}

}  // namespace

void AddInspectCommand(CLI::App& app, int& exitCode) {
    auto files = std::make_shared<std::vector<std::string>>();
    auto* command = app.add_subcommand("inspect", "Decode packet files and check every record");
    command->add_option("files", *files, "Packet files")->required();
    command->footer(
        "After the files, the identity of the series they make in the order given (SHA-256\n"
        "of their bytes), as flash and pack show it.\n"
        "Exit codes:\n"
        "  0  every record is well formed\n"
        "  1  a record is malformed (sync byte, code, length, payload size or checksum)\n"
        "  2  a file could not be read (this wins over 1)\n"
        "  64 the command line was not understood");
    command->callback([files, &exitCode] {
        int worst = kAllWellFormed;
        Sha256 identity;
        for (const std::string& path : *files) {
            worst = std::max(worst, InspectFile(path, identity));
        }
        if (worst != kUnreadable) {
            std::cout << "series " << identity.HexDigest() << '\n';
        }
        exitCode = worst;
    });
}

}  // namespace quillon::cli
