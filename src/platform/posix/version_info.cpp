// The version resource of a Windows program file, read without the Windows
// loader: the PE headers lead to the resource directory, the resource
// directory to the first version resource (type RT_VERSION, its first name,
// the first language), and that is the VS_VERSIONINFO block the Windows calls
// hand out. Both the 32-bit (PE32) and the 64-bit (PE32+) layout are read.
//
// The file may be damaged or not a program at all, so every offset and count
// taken from it is checked against the file and the section it points into
// before anything is read; a file that fails a check has no version resource.
#include "platform/version_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace plat {

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
constexpr size_t kFixedFileInfoSize = 13 * 4;
constexpr size_t kSectionHeaderSize = 40;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// A program file opened for reading, with every read checked against its size.
class File {
public:
    explicit File(const char* path) {
        if (path == nullptr) {
            return;
        }
        fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
            size_ = static_cast<uint64_t>(st.st_size);
        }
    }
    ~File() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool Read(uint64_t offset, void* out, size_t length) const {
        if (fd_ < 0 || offset > size_ || length > size_ - offset) {
            return false;
        }
        auto* bytes = static_cast<uint8_t*>(out);
        size_t done = 0;
        while (done < length) {
            const ssize_t n =
                ::pread(fd_, bytes + done, length - done, static_cast<off_t>(offset + done));
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n == 0 || errno != EINTR) {
                return false;
            }
        }
        return true;
    }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

struct Section {
    uint32_t virtualAddress;
    uint32_t extent;  // bytes of the section that the file holds
    uint32_t rawOffset;
};

// The program file's sections, and reads by relative virtual address.
class Image {
public:
    explicit Image(const File& file) : file_(file) {}

    // Reads the headers; false if the file is no PE program file.
    bool Load(uint32_t* resourceRva, uint32_t* resourceSize) {
        uint8_t dos[64];
        if (!file_.Read(0, dos, sizeof dos) || Le16(dos) != kDosMagic) {
            return false;
        }
        const uint64_t pe = Le32(dos + 0x3C);
        uint8_t coff[24];
        if (!file_.Read(pe, coff, sizeof coff) || Le32(coff) != kPeSignature) {
            return false;
        }
        const uint16_t sectionCount = Le16(coff + 6);
        const uint16_t optionalSize = Le16(coff + 20);
        const uint64_t optional = pe + sizeof coff;

        uint8_t header[240] = {};
        const size_t headerBytes = std::min<size_t>(optionalSize, sizeof header);
        if (headerBytes < 2 || !file_.Read(optional, header, headerBytes)) {
            return false;
        }
        size_t countOffset = 0;
        switch (Le16(header)) {
            case kPe32Magic:
                countOffset = 92;
                break;
            case kPe32PlusMagic:
                countOffset = 108;
                break;
            default:
                return false;
        }
        const size_t entryOffset = countOffset + 4 + kResourceDirectoryIndex * 8;
        if (headerBytes < entryOffset + 8 ||
            Le32(header + countOffset) <= kResourceDirectoryIndex) {
            return false;
        }
        *resourceRva = Le32(header + entryOffset);
        *resourceSize = Le32(header + entryOffset + 4);

        sections_.clear();
        sections_.reserve(sectionCount);
        const uint64_t table = optional + optionalSize;
        for (uint32_t i = 0; i < sectionCount; ++i) {
            uint8_t s[kSectionHeaderSize];
            if (!file_.Read(table + uint64_t{i} * kSectionHeaderSize, s, sizeof s)) {
                return false;
            }
            const uint32_t virtualSize = Le32(s + 8);
            const uint32_t rawSize = Le32(s + 16);
            // Past its virtual size a section holds only padding; past its
            // raw size the loader would fill in zeros the file does not have.
            const uint32_t extent = virtualSize != 0 ? std::min(virtualSize, rawSize) : rawSize;
            sections_.push_back(Section{Le32(s + 12), extent, Le32(s + 20)});
        }
        return *resourceRva != 0 && *resourceSize != 0;
    }

    // The file offset of `length` bytes at `rva`, if one section holds them all.
    bool Map(uint32_t rva, uint32_t length, uint64_t* offset) const {
        for (const Section& s : sections_) {
            if (rva >= s.virtualAddress && uint64_t{rva - s.virtualAddress} + length <= s.extent) {
                *offset = uint64_t{s.rawOffset} + (rva - s.virtualAddress);
                return true;
            }
        }
        return false;
    }

    bool ReadRva(uint32_t rva, void* out, uint32_t length) const {
        uint64_t offset = 0;
        return Map(rva, length, &offset) && file_.Read(offset, out, length);
    }

private:
    const File& file_;
    std::vector<Section> sections_;
};

// The resource directory, whose inner offsets count from its start and must
// stay inside it.
class ResourceTree {
public:
    ResourceTree(const Image& image, uint32_t rva, uint32_t size)
        : image_(image), rva_(rva), size_(size) {}

    // Reads `length` bytes at `offset` from the directory's start.
    bool Read(uint64_t offset, void* out, uint32_t length) const {
        return offset <= size_ && length <= size_ - offset && rva_ + offset <= 0xFFFFFFFFu &&
               image_.ReadRva(static_cast<uint32_t>(rva_ + offset), out, length);
    }

    // The entry of the directory at `directory` whose id is `id`, or with
    // `id` negative its first entry; gives the entry's target field.
    bool Find(uint32_t directory, int64_t id, uint32_t* target) const {
        uint8_t header[16];
        if (!Read(directory, header, sizeof header)) {
            return false;
        }
        const uint32_t count = uint32_t{Le16(header + 12)} + Le16(header + 14);
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t entry[8];
            if (!Read(uint64_t{directory} + 16 + uint64_t{i} * 8, entry, sizeof entry)) {
                return false;
            }
            if (id < 0 || Le32(entry) == id) {
                *target = Le32(entry + 4);
                return true;
            }
        }
        return false;
    }

private:
    const Image& image_;
    uint32_t rva_;
    uint32_t size_;
};

// Finds the version resource: its file offset and its byte count.
bool LocateVersionResource(const File& file, uint64_t* offset, uint32_t* size) {
    Image image(file);
    uint32_t rva = 0;
    uint32_t length = 0;
    if (!image.Load(&rva, &length)) {
        return false;
    }
    const ResourceTree tree(image, rva, length);
    uint32_t types = 0;
    uint32_t names = 0;
    uint32_t languages = 0;
    // Type and name lead to sub-directories, the language to the data entry.
    if (!tree.Find(0, kRtVersion, &types) || (types & kHighBit) == 0 ||
        !tree.Find(types & ~kHighBit, -1, &names) || (names & kHighBit) == 0 ||
        !tree.Find(names & ~kHighBit, -1, &languages) || (languages & kHighBit) != 0) {
        return false;
    }
    uint8_t data[16];
    if (!tree.Read(languages, data, sizeof data)) {
        return false;
    }
    const uint32_t dataRva = Le32(data);
    const uint32_t dataSize = Le32(data + 4);
    if (dataSize == 0 || !image.Map(dataRva, dataSize, offset)) {
        return false;
    }
    // Mapped, but the file may still end before the data do.
    uint8_t last = 0;
    if (!file.Read(*offset + dataSize - 1, &last, 1)) {
        return false;
    }
    *size = dataSize;
    return true;
}

}  // namespace

uint32_t FileVersionInfoSize(const char* path) {
    const File file(path);
    uint64_t offset = 0;
    uint32_t size = 0;
    return LocateVersionResource(file, &offset, &size) ? size : 0;
}

bool FileVersionInfo(const char* path, uint32_t size, void* data) {
    if (data == nullptr || size == 0) {
        return false;
    }
    const File file(path);
    uint64_t offset = 0;
    uint32_t available = 0;
    if (!LocateVersionResource(file, &offset, &available)) {
        return false;
    }
    // A smaller buffer receives the beginning of the resource, as on Windows.
    return file.Read(offset, data, std::min(size, available));
}

bool QueryFixedFileInfo(const void* block, uint32_t size, FixedFileInfo* out) {
    static constexpr char kKey[] = "VS_VERSION_INFO";
    constexpr size_t kKeyOffset = 6;  // after wLength, wValueLength and wType
    constexpr size_t kKeyBytes = sizeof kKey * 2;
    constexpr size_t kValueOffset = (kKeyOffset + kKeyBytes + 3) & ~size_t{3};
    if (block == nullptr || out == nullptr || size < kValueOffset + kFixedFileInfoSize) {
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(block);
    const uint32_t blockLength = std::min<uint32_t>(Le16(bytes), size);
    const uint16_t valueLength = Le16(bytes + 2);
    if (blockLength < kValueOffset + kFixedFileInfoSize || valueLength < kFixedFileInfoSize) {
        return false;
    }
    for (size_t i = 0; i < sizeof kKey; ++i) {
        if (Le16(bytes + kKeyOffset + i * 2) != static_cast<uint8_t>(kKey[i])) {
            return false;
        }
    }
    const uint8_t* value = bytes + kValueOffset;
    if (Le32(value) != kFixedFileInfoSignature) {
        return false;
    }
    uint32_t fields[13];
    for (size_t i = 0; i < 13; ++i) {
        fields[i] = Le32(value + i * 4);
    }
    *out =
        FixedFileInfo{fields[0], fields[1], fields[2], fields[3],  fields[4],  fields[5], fields[6],
                      fields[7], fields[8], fields[9], fields[10], fields[11], fields[12]};
    return true;
}

}  // namespace plat
