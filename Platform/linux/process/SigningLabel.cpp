#include "Platform/linux/process/SigningLabel.h"

#include <elf.h>
#include <fcntl.h>

#include <cstring>
#include <vector>

#include "Platform/linux/handles/UniqueFd.h"

namespace zoba::platform::linux_backend {

namespace {

template <typename T>
bool readAt(int fd, off_t offset, T& value) {
  return ::pread(fd, &value, sizeof value, offset) == static_cast<ssize_t>(sizeof value);
}

std::size_t align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

std::optional<SigningLabel> labelInNotes(const std::vector<char>& notes) {
  std::size_t at = 0;
  while (at + sizeof(Elf64_Nhdr) <= notes.size()) {
    Elf64_Nhdr header;
    std::memcpy(&header, notes.data() + at, sizeof header);
    std::size_t name = at + sizeof header;
    std::size_t desc = name + align4(header.n_namesz);
    std::size_t next = desc + align4(header.n_descsz);
    if (desc < name || next < desc || next > notes.size()) return std::nullopt;
    bool ours = header.n_type == signingLabelType && header.n_namesz == sizeof signingLabelOwner &&
                std::memcmp(notes.data() + name, signingLabelOwner, sizeof signingLabelOwner) == 0;
    if (ours) {
      std::string text(notes.data() + desc, header.n_descsz);
      auto first = text.find('\0');
      if (first == std::string::npos) return std::nullopt;
      auto second = text.find('\0', first + 1);
      if (second == std::string::npos) return std::nullopt;
      return SigningLabel{text.substr(0, first), text.substr(first + 1, second - first - 1)};
    }
    at = next;
  }
  return std::nullopt;
}

}  // namespace

std::optional<SigningLabel> readSigningLabel(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  Elf64_Ehdr elf;
  if (!readAt(fd.get(), 0, elf)) return std::nullopt;
  if (std::memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 || elf.e_ident[EI_CLASS] != ELFCLASS64 ||
      elf.e_shentsize != sizeof(Elf64_Shdr)) {
    return std::nullopt;
  }
  for (unsigned i = 0; i < elf.e_shnum; ++i) {
    Elf64_Shdr section;
    if (!readAt(fd.get(), static_cast<off_t>(elf.e_shoff + i * sizeof section), section)) return std::nullopt;
    // A label is a few dozen bytes; larger note sections are someone else's.
    if (section.sh_type != SHT_NOTE || section.sh_size > 65536) continue;
    std::vector<char> notes(section.sh_size);
    if (::pread(fd.get(), notes.data(), notes.size(), static_cast<off_t>(section.sh_offset)) !=
        static_cast<ssize_t>(notes.size())) {
      continue;
    }
    if (auto label = labelInNotes(notes)) return label;
  }
  return std::nullopt;
}

}  // namespace zoba::platform::linux_backend
