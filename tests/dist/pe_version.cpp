#include "pe_version.h"

#include <fstream>
#include <iterator>

namespace dist_test {
namespace {

constexpr uint16_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr uint32_t kSubdirectoryBit = 0x80000000;

// Bounds-checked little-endian reads over one byte range.
class Bytes {
 public:
  Bytes(const std::vector<uint8_t>& data, const char* what) : data_(data), what_(what) {}

  uint16_t U16(size_t offset) const {
    Need(offset, 2);
    return static_cast<uint16_t>(data_[offset] | data_[offset + 1] << 8);
  }
  uint32_t U32(size_t offset) const {
    Need(offset, 4);
    return static_cast<uint32_t>(U16(offset)) | static_cast<uint32_t>(U16(offset + 2)) << 16;
  }
  void Need(size_t offset, size_t length) const {
    if (offset > data_.size() || length > data_.size() - offset) {
      throw PeFormatError(std::string(what_) + " runs past the end of the file (offset " +
                          std::to_string(offset) + ", " + std::to_string(length) + " bytes)");
    }
  }

 private:
  const std::vector<uint8_t>& data_;
  const char* what_;
};

struct Section {
  uint32_t virtual_address;
  uint32_t virtual_size;
  uint32_t raw_size;
  uint32_t raw_offset;
};

size_t FileOffsetOf(const std::vector<Section>& sections, uint32_t rva) {
  for (const Section& s : sections) {
    const uint32_t size = std::max(s.virtual_size, s.raw_size);
    if (rva >= s.virtual_address && rva - s.virtual_address < size) {
      return size_t{s.raw_offset} + (rva - s.virtual_address);
    }
  }
  throw PeFormatError("address " + std::to_string(rva) + " lies in no section");
}

// The first entry of a resource directory whose id is `id` (any id when
// `id` is 0): the offset, from the resource section's start, it points to.
uint32_t DirectoryEntry(const Bytes& bytes, size_t section, uint32_t directory, uint16_t id,
                        bool want_subdirectory) {
  const size_t base = section + directory;
  const uint32_t named = bytes.U16(base + 12);
  const uint32_t ids = bytes.U16(base + 14);
  for (uint32_t k = named; k < named + ids; ++k) {
    const size_t entry = base + 16 + 8 * size_t{k};
    const uint32_t name = bytes.U32(entry);
    const uint32_t target = bytes.U32(entry + 4);
    if (id != 0 && name != id) continue;
    if (((target & kSubdirectoryBit) != 0) != want_subdirectory) {
      throw PeFormatError("the resource directory's tree has the wrong depth");
    }
    return target & ~kSubdirectoryBit;
  }
  throw PeFormatError(id == kResourceTypeVersion ? "the file has no version resource"
                                                 : "a resource directory is empty");
}

// One node of the version resource: length, value length, type, a UTF-16
// key, then the value and the children, each aligned to 4 bytes.
struct Node {
  std::string key;
  size_t value_offset;
  size_t value_bytes;
  size_t children_offset;
  size_t end;
};

std::string Narrow(const Bytes& bytes, size_t offset, size_t end, size_t* after) {
  std::string text;
  for (;; offset += 2) {
    if (offset + 2 > end) throw PeFormatError("a version resource text has no terminating zero");
    const uint16_t unit = bytes.U16(offset);
    if (unit == 0) break;
    text += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  *after = offset + 2;
  return text;
}

size_t Align4(size_t offset, size_t origin) {
  return origin + ((offset - origin + 3) & ~size_t{3});
}

Node ReadNode(const Bytes& bytes, size_t offset, size_t limit, size_t origin) {
  Node node;
  const uint16_t length = bytes.U16(offset);
  const uint16_t value_length = bytes.U16(offset + 2);
  const uint16_t type = bytes.U16(offset + 4);
  if (length < 6 || offset + length > limit) {
    throw PeFormatError("a version resource node's length " + std::to_string(length) +
                        " does not fit its parent");
  }
  node.end = offset + length;
  size_t after_key;
  node.key = Narrow(bytes, offset + 6, node.end, &after_key);
  node.value_offset = Align4(after_key, origin);
  // Text values count UTF-16 units, binary values bytes.
  node.value_bytes = type == 1 ? size_t{value_length} * 2 : value_length;
  if (node.value_offset + node.value_bytes > node.end) {
    throw PeFormatError("the value of '" + node.key + "' runs past its node");
  }
  node.children_offset = Align4(node.value_offset + node.value_bytes, origin);
  return node;
}

std::vector<Node> Children(const Bytes& bytes, const Node& parent, size_t origin) {
  std::vector<Node> children;
  for (size_t at = parent.children_offset; at + 6 <= parent.end;) {
    children.push_back(ReadNode(bytes, at, parent.end, origin));
    at = Align4(children.back().end, origin);
  }
  return children;
}

}  // namespace

PeVersionInfo ReadPeVersionInfo(const std::vector<uint8_t>& image) {
  const Bytes bytes(image, "the PE file");
  if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z') {
    throw PeFormatError("not a PE file: no MZ header");
  }
  const size_t pe = bytes.U32(0x3C);
  if (bytes.U32(pe) != 0x00004550) throw PeFormatError("not a PE file: no PE signature");
  const size_t coff = pe + 4;
  const uint16_t section_count = bytes.U16(coff + 2);
  const uint16_t optional_size = bytes.U16(coff + 16);
  const size_t optional = coff + 20;
  const uint16_t magic = bytes.U16(optional);
  if (magic != 0x10B && magic != 0x20B) throw PeFormatError("unknown optional header magic");
  const size_t directories = optional + (magic == 0x10B ? 96 : 112);
  const uint32_t directory_count = bytes.U32(directories - 4);
  if (directory_count <= 2) throw PeFormatError("the file has no resource directory");
  const uint32_t resource_rva = bytes.U32(directories + 2 * 8);
  if (resource_rva == 0) throw PeFormatError("the file has no resources");

  std::vector<Section> sections;
  for (size_t k = 0; k < section_count; ++k) {
    const size_t s = optional + optional_size + 40 * k;
    sections.push_back({bytes.U32(s + 12), bytes.U32(s + 8), bytes.U32(s + 16), bytes.U32(s + 20)});
  }
  const size_t section = FileOffsetOf(sections, resource_rva);

  // Type, then name, then language.
  const uint32_t names = DirectoryEntry(bytes, section, 0, kResourceTypeVersion, true);
  const uint32_t languages = DirectoryEntry(bytes, section, names, 0, true);
  const uint32_t data_entry = DirectoryEntry(bytes, section, languages, 0, false);
  const uint32_t data_rva = bytes.U32(section + data_entry);
  const uint32_t data_size = bytes.U32(section + data_entry + 4);
  const size_t data = FileOffsetOf(sections, data_rva);
  bytes.Need(data, data_size);

  const Node root = ReadNode(bytes, data, data + data_size, data);
  if (root.key != "VS_VERSION_INFO")
    throw PeFormatError("the version resource's root is '" + root.key + "'");
  if (root.value_bytes < 52 || bytes.U32(root.value_offset) != kFixedFileInfoSignature) {
    throw PeFormatError("the version resource has no fixed file information");
  }
  PeVersionInfo info;
  auto four = [&](size_t at) {
    const uint32_t ms = bytes.U32(at);
    const uint32_t ls = bytes.U32(at + 4);
    return std::array<uint16_t, 4>{static_cast<uint16_t>(ms >> 16), static_cast<uint16_t>(ms),
                                   static_cast<uint16_t>(ls >> 16), static_cast<uint16_t>(ls)};
  };
  info.file_version = four(root.value_offset + 8);
  info.product_version = four(root.value_offset + 16);

  for (const Node& block : Children(bytes, root, data)) {
    if (block.key != "StringFileInfo") continue;
    const std::vector<Node> tables = Children(bytes, block, data);
    if (tables.empty()) throw PeFormatError("StringFileInfo holds no string table");
    info.language = tables.front().key;
    for (const Node& string : Children(bytes, tables.front(), data)) {
      size_t after;
      info.strings[string.key] = string.value_bytes == 0
                                     ? std::string()
                                     : Narrow(bytes, string.value_offset,
                                              string.value_offset + string.value_bytes, &after);
    }
  }
  return info;
}

PeVersionInfo ReadPeVersionInfoFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw PeFormatError("cannot open " + path);
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  return ReadPeVersionInfo(image);
}

}  // namespace dist_test
