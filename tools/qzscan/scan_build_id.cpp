#include "scan_build_id.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstring>

namespace {

// Name of the notes the GNU linker writes, NUL included.
const char kGnuNoteName[] = "GNU";
// Bytes of a build ID beyond which a note is taken as damaged: the linker
// writes 16 (md5, uuid) or 20 (sha1) bytes.
const size_t kMaxBuildIdBytes = 64;

// What dl_iterate_phdr looks for: the first object whose file name begins
// with `name_prefix`, and the build ID found in it.
struct Search {
  const char* name_prefix;
  std::string id;
};

size_t align4(size_t n) { return (n + 3) & ~size_t{3}; }

// The build ID among the notes of one PT_NOTE segment, [p, p + size).
std::string build_id_in_notes(const unsigned char* p, size_t size) {
  size_t at = 0;
  while (size - at >= sizeof(ElfW(Nhdr))) {
    ElfW(Nhdr) h;
    std::memcpy(&h, p + at, sizeof h);
    at += sizeof h;
    const size_t name_bytes = align4(h.n_namesz), desc_bytes = align4(h.n_descsz);
    if (name_bytes > size - at || desc_bytes > size - at - name_bytes) break;
    const unsigned char* name = p + at;
    const unsigned char* desc = name + name_bytes;
    at += name_bytes + desc_bytes;
    if (h.n_type != NT_GNU_BUILD_ID || h.n_namesz != sizeof kGnuNoteName ||
        std::memcmp(name, kGnuNoteName, sizeof kGnuNoteName) != 0 || h.n_descsz == 0 ||
        h.n_descsz > kMaxBuildIdBytes)
      continue;
    static const char hex[] = "0123456789abcdef";
    std::string id;
    for (size_t i = 0; i < h.n_descsz; i++) {
      id += hex[desc[i] >> 4];
      id += hex[desc[i] & 15];
    }
    return id;
  }
  return "";
}

// Whether the object dl_iterate_phdr describes is the one s looks for.
bool is_wanted(const struct dl_phdr_info* info, const Search* s) {
  const char* path = info->dlpi_name ? info->dlpi_name : "";
  const char* slash = std::strrchr(path, '/');
  const char* base = slash ? slash + 1 : path;
  return std::strncmp(base, s->name_prefix, std::strlen(s->name_prefix)) == 0;
}

// dl_iterate_phdr's callback: stops at the wanted object, taking its build ID.
int visit(struct dl_phdr_info* info, size_t, void* data) {
  auto* s = static_cast<Search*>(data);
  if (!is_wanted(info, s)) return 0;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum && s->id.empty(); i++) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type == PT_NOTE)
      s->id = build_id_in_notes(
          reinterpret_cast<const unsigned char*>(info->dlpi_addr + ph.p_vaddr), ph.p_memsz);
  }
  return 1;
}

}  // namespace

std::string library_build_id(const char* name_prefix) {
  if (!name_prefix || !*name_prefix) return "";
  Search s{name_prefix, ""};
  dl_iterate_phdr(visit, &s);
  return s.id;
}
