/*
 * The built-in registry: PHP function names mapped to the engine's emulations,
 * rebuilt at the start of every scan and dropped at its end.
 *
 * Entries live in a slab pool in registration order. A name may be registered
 * more than once; the lookup returns the earliest registration, comparing
 * names without regard to ASCII letter case. The lookup runs for every call
 * of a script, so it goes through an index (lower-cased name -> earliest
 * entry) that registration keeps and shutdown clears, instead of a walk over
 * every slot.
 *
 * The rows a scan starts with depend only on two options, so they, their
 * interned names and their index (name -> first row) are made once per
 * choice of options and kept between scans: a scan's startup copies the rows
 * into the pool and nothing more. Registrations made by anyone else go
 * through an index of their own that shutdown clears.
 */

#include "builtins/php_lib_registry.h"

#include "builtins/php_lib_builtin.h"
#include "builtins/php_lib_dump.h"
#include "builtins/php_lib_regex.h"
#include "builtins/php_lib_taint.h"
#include "builtins/php_lib_text.h"
#include "builtins/qz_transform.h"
#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_call.h"
#include "php/php_value.h"
#include "php/php_variable.h"
#include "runtime/qz_symtable.h"

#include <iterator>
#include <new>
#include <unordered_map>
#include <vector>

qz_mempool<_php_function_map> qz_php_internal_function_map;

/* Name, case folded -> first registration, for the registrations that are
 * not the scan's starting rows copied in by startup. Keys are the entries'
 * own names, interned in the engine's table, so they outlive the index
 * (cleared with the pool at the end of every scan). */
static std::unordered_map<const char*, _php_function_map*, qz_ascii_fold_hash, qz_ascii_fold_equal>
    registry_index;

struct registry_row {
  const char* name;
  void* func;
  unsigned long argc;
  unsigned char varargs;
};

/* The rows a scan starts with, made for `options` (the bits that choose
 * them) with their names interned in the engine's table of `epoch`, and by
 * case-folded name the position of each name's first row. Made by the first
 * scan with those options; made again when the options or the engine's
 * table change. */
static struct {
  bool made = false;
  unsigned long options = 0;
  unsigned long epoch = 0;
  std::vector<registry_row> rows;
  std::unordered_map<const char*, size_t, qz_ascii_fold_hash, qz_ascii_fold_equal> first;
} registry_start;

/* Entry i is the pool entry of registry_start's row i while a scan uses the
 * rows (startup copied them in as the pool's first registrations); empty
 * outside, and shorter when the pool refused an entry. */
static std::vector<_php_function_map*> registry_start_entries;

void php_lib_append_internal_function(const char* name, void* func, unsigned long argc,
                                      unsigned char varargs) {
  if (!name) return;
  _php_function_map* e = qz_php_internal_function_map.alloc(nullptr);
  if (!e) return;
  e->name = qz_engine_insert_isym(const_cast<char*>(name));
  e->func = func;
  e->argc = argc;
  e->varargs = varargs;
  if (e->name) registry_index.emplace(e->name, e);
}

_php_function_map* php_lib_lookup_internal_function_by_name(char* name) {
  if (!name) return nullptr;
  if (!registry_start_entries.empty()) {
    auto row = registry_start.first.find(name);
    if (row != registry_start.first.end() && row->second < registry_start_entries.size())
      return registry_start_entries[row->second];
  }
  if (registry_index.empty()) return nullptr;
  auto it = registry_index.find(name);
  return it == registry_index.end() ? nullptr : it->second;
}

/* Handler shapes: a fixed-arity built-in takes k token pointers, a variadic
 * one the argument list. */
typedef _qz_token* (*builtin0)();
typedef _qz_token* (*builtin1)(_qz_token*);
typedef _qz_token* (*builtin2)(_qz_token*, _qz_token*);
typedef _qz_token* (*builtin3)(_qz_token*, _qz_token*, _qz_token*);
typedef _qz_token* (*builtin4)(_qz_token*, _qz_token*, _qz_token*, _qz_token*);
typedef _qz_token* (*builtin5)(_qz_token*, _qz_token*, _qz_token*, _qz_token*, _qz_token*);
typedef _qz_token* (*builtin6)(_qz_token*, _qz_token*, _qz_token*, _qz_token*, _qz_token*,
                               _qz_token*);
typedef _qz_token* (*builtin7)(_qz_token*, _qz_token*, _qz_token*, _qz_token*, _qz_token*,
                               _qz_token*, _qz_token*);
typedef _qz_token* (*builtin8)(_qz_token*, _qz_token*, _qz_token*, _qz_token*, _qz_token*,
                               _qz_token*, _qz_token*, _qz_token*);
typedef _qz_token* (*builtin9)(_qz_token*, _qz_token*, _qz_token*, _qz_token*, _qz_token*,
                               _qz_token*, _qz_token*, _qz_token*, _qz_token*);
typedef _qz_token* (*builtin10)(_qz_token*, _qz_token*, _qz_token*, _qz_token*, _qz_token*,
                                _qz_token*, _qz_token*, _qz_token*, _qz_token*, _qz_token*);

/* Reverses a list in place (next and prev); returns the new head. */
static _qz_token* registry_reverse(_qz_token* list) {
  _qz_token* out = nullptr;
  while (list) {
    _qz_token* nx = list->next;
    list->next = out;
    list->prev = nx;
    out = list;
    list = nx;
  }
  return out;
}

_qz_token* php_lib_call_wrapper(_php_function_map* f, _qz_token* args) {
  if (!f || !f->func) return nullptr;
  if (f->varargs) {
    _qz_token* first = registry_reverse(args);
    if (first) first->prev = nullptr;
    return reinterpret_cast<builtin1>(f->func)(first);
  }
  size_t k = f->argc;
  if (k > QZ_BUILTIN_MAX_ARGS) return nullptr;
  /* The list runs last argument first; the handler takes the first k in
   * source order, the last k of the list, each as its variable entry. The
   * walk keeps the k tokens seen last, token j at j % k. */
  _qz_token* seen[QZ_BUILTIN_MAX_ARGS] = {};
  size_t n = 0;
  for (_qz_token* t = args; t; t = t->next) {
    if (k) seen[n % k] = t;
    n++;
    if (t->next == args) break;
  }
  /* A handler is never run with fewer arguments than it takes: its missing
   * parameters would be read from nowhere. The call wrapper never asks for
   * that; a direct caller gets null. */
  if (n < k) return nullptr;
  _qz_token* a[QZ_BUILTIN_MAX_ARGS] = {};
  for (size_t i = 0; i < k; i++) {
    _qz_token* t = seen[(n - 1 - i) % k];
    _qz_token* v = php_call_arg_entry(t);
    a[i] = v ? v : t;
  }
  void* fn = f->func;
  switch (k) {
    case 0: return reinterpret_cast<builtin0>(fn)();
    case 1: return reinterpret_cast<builtin1>(fn)(a[0]);
    case 2: return reinterpret_cast<builtin2>(fn)(a[0], a[1]);
    case 3: return reinterpret_cast<builtin3>(fn)(a[0], a[1], a[2]);
    case 4: return reinterpret_cast<builtin4>(fn)(a[0], a[1], a[2], a[3]);
    case 5: return reinterpret_cast<builtin5>(fn)(a[0], a[1], a[2], a[3], a[4]);
    case 6: return reinterpret_cast<builtin6>(fn)(a[0], a[1], a[2], a[3], a[4], a[5]);
    case 7: return reinterpret_cast<builtin7>(fn)(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
    case 8: return reinterpret_cast<builtin8>(fn)(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
    case 9:
      return reinterpret_cast<builtin9>(fn)(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]);
    default:
      return reinterpret_cast<builtin10>(fn)(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8],
                                             a[9]);
  }
}

/* Handler addresses as the registry stores them. */
template <class F>
static void* registry_fn(F* f) {
  return reinterpret_cast<void*>(f);
}

/* The rows of QZ_OPT_INTERPRETER_REACH, registered ahead of every other row
 * so that a name they share with one resolves to them. */
static void registry_reach_rows(std::vector<registry_row>* out) {
  const registry_row rows[] = {
      /* Transforms that carry markers from their input to their result. */
      {"strrev", registry_fn(php_lib_taint_strrev), 1, 0},
      {"strtolower", registry_fn(php_lib_taint_carried<qz_engine_str_to_lower>), 1, 0},
      {"strtoupper", registry_fn(php_lib_taint_carried<qz_engine_str_to_upper>), 1, 0},
      {"str_rot13", registry_fn(php_lib_taint_carried<qz_engine_str_rot13>), 1, 0},
      {"trim", registry_fn(php_lib_taint_carried<qz_engine_trim>), 1, 0},
      {"ltrim", registry_fn(php_lib_taint_carried<qz_engine_ltrim>), 1, 0},
      {"rtrim", registry_fn(php_lib_taint_carried<qz_engine_rtrim>), 1, 0},
      {"chop", registry_fn(php_lib_taint_carried<qz_engine_rtrim>), 1, 0},
      {"urldecode", registry_fn(php_lib_taint_carried<qz_engine_urldecode>), 1, 0},
      {"base64_encode", registry_fn(php_lib_taint_carried<qz_engine_b64encode>), 1, 0},
      {"base64_decode", registry_fn(php_lib_taint_carried<qz_engine_b64decode>), 1, 0},
      {"gzinflate", registry_fn(php_lib_taint_carried<qz_engine_gzinflate>), 1, 0},
      {"gzuncompress", registry_fn(php_lib_taint_carried<qz_engine_gzuncompress>), 1, 0},
      {"str_replace", registry_fn(php_lib_taint_str_replace), 3, 0},
      {"preg_replace", registry_fn(php_lib_regex_preg_replace), 3, 0},
      /* Text building. */
      {"strtr", registry_fn(php_lib_text_strtr), 0, 1},
      {"substr", registry_fn(php_lib_text_substr), 0, 1},
      {"mb_substr", registry_fn(php_lib_text_substr), 0, 1},
      {"strpos", registry_fn(php_lib_text_strpos), 0, 1},
      {"stripos", registry_fn(php_lib_text_stripos), 0, 1},
      {"substr_replace", registry_fn(php_lib_text_substr_replace), 0, 1},
      {"str_split", registry_fn(php_lib_text_str_split), 0, 1},
      {"implode", registry_fn(php_lib_text_implode), 0, 1},
      {"join", registry_fn(php_lib_text_implode), 0, 1},
      {"array_reverse", registry_fn(php_lib_text_array_reverse), 0, 1},
      {"sprintf", registry_fn(php_lib_text_sprintf), 0, 1},
      {"vsprintf", registry_fn(php_lib_text_vsprintf), 2, 0},
      {"hex2bin", registry_fn(php_lib_text_hex2bin), 1, 0},
      {"pack", registry_fn(php_lib_text_pack), 0, 1},
      {"str_pad", registry_fn(php_lib_text_str_pad), 0, 1},
      {"str_repeat", registry_fn(php_lib_text_str_repeat), 2, 0},
      {"ucfirst", registry_fn(php_lib_text_ucfirst), 1, 0},
      {"basename", registry_fn(php_lib_text_basename), 1, 0},
      {"dirname", registry_fn(php_lib_text_dirname), 0, 1},
      {"pathinfo", registry_fn(php_lib_text_pathinfo), 0, 1},
      {"iconv", registry_fn(php_lib_text_iconv), 3, 0},
      {"mb_convert_encoding", registry_fn(php_lib_text_mb_convert_encoding), 2, 0},
      {"convert_uudecode", registry_fn(php_lib_text_convert_uudecode), 1, 0},
      {"base_convert", registry_fn(php_lib_text_base_convert), 3, 0},
      {"rawurldecode", registry_fn(php_lib_text_rawurldecode), 1, 0},
      {"htmlspecialchars_decode", registry_fn(php_lib_text_html_decode), 1, 0},
      {"html_entity_decode", registry_fn(php_lib_text_html_decode), 1, 0},
      /* Request data read other ways than through the request arrays. */
      {"getenv", registry_fn(php_lib_taint_getenv), 1, 0},
      {"getallheaders", registry_fn(php_lib_taint_headers), 0, 0},
      {"filter_input", registry_fn(php_lib_taint_filter_input), 2, 0},
      {"filter_input_array", registry_fn(php_lib_taint_filter_input_array), 1, 0},
      {"openssl_decrypt", registry_fn(php_lib_taint_decrypted), 1, 0},
      {"openssl_private_decrypt", registry_fn(php_lib_taint_decrypted), 1, 0},
      {"openssl_public_decrypt", registry_fn(php_lib_taint_decrypted), 1, 0},
      {"sodium_crypto_secretbox_open", registry_fn(php_lib_taint_decrypted), 1, 0},
      {"json_decode", registry_fn(php_lib_taint_request_array), 1, 0},
      {"unserialize", registry_fn(php_lib_taint_unserialize), 1, 0},
      {"serialize", registry_fn(php_lib_taint_serialized), 1, 0},
      {"json_encode", registry_fn(php_lib_taint_serialized), 1, 0},
      {"http_build_query", registry_fn(php_lib_taint_serialized), 1, 0},
      {"print_r", registry_fn(php_lib_taint_print_r), 2, 0},
      {"preg_split", registry_fn(php_lib_taint_split), 2, 0},
      {"mb_split", registry_fn(php_lib_taint_split), 2, 0},
      {"array_values", registry_fn(php_lib_taint_array_values), 1, 0},
      {"array_merge", registry_fn(php_lib_taint_array_merge), 0, 1},
      {"array_merge_recursive", registry_fn(php_lib_taint_array_merge), 0, 1},
      {"array_replace", registry_fn(php_lib_taint_array_merge), 0, 1},
      {"array_slice", registry_fn(php_lib_taint_request_array), 1, 0},
      {"array_unique", registry_fn(php_lib_taint_request_array), 1, 0},
      {"parse_str", registry_fn(php_lib_taint_parse_str), 2, 0},
      {"array_keys", registry_fn(php_lib_taint_array_keys), 1, 0},
      {"array_flip", registry_fn(php_lib_taint_array_flip), 1, 0},
      {"key", registry_fn(php_lib_taint_first_key), 1, 0},
      {"current", registry_fn(php_lib_current), 1, 0},
      {"pos", registry_fn(php_lib_current), 1, 0},
      {"reset", registry_fn(php_lib_reset), 1, 0},
      {"end", registry_fn(php_lib_end), 1, 0},
      {"next", registry_fn(php_lib_next), 1, 0},
      {"each", registry_fn(php_lib_each), 1, 0},
      {"is_array", registry_fn(php_lib_is_array), 1, 0},
      {"sizeof", registry_fn(php_lib_array_count), 1, 0},
      {"token_get_all", registry_fn(php_lib_text_token_get_all), 1, 0},
      {"array_pop", registry_fn(php_lib_taint_last_item), 1, 0},
      {"array_shift", registry_fn(php_lib_taint_first_item), 1, 0},
      {"apache_request_headers", registry_fn(php_lib_taint_headers), 0, 0},
      {"exif_read_data", registry_fn(php_lib_taint_file_metadata), 1, 0},
      {"read_exif_data", registry_fn(php_lib_taint_file_metadata), 1, 0},
      {"iptcparse", registry_fn(php_lib_taint_file_metadata), 1, 0},
      {"file_get_contents", registry_fn(php_lib_taint_file_get_contents), 1, 0},
      {"fopen", registry_fn(php_lib_taint_fopen), 2, 0},
      {"fread", registry_fn(php_lib_taint_fread), 2, 0},
      {"fgets", registry_fn(php_lib_taint_fgets), 1, 0},
      {"fgetss", registry_fn(php_lib_taint_fgets), 1, 0},
      {"stream_get_contents", registry_fn(php_lib_taint_fgets), 1, 0},
      {"readline", registry_fn(php_lib_taint_readline), 0, 0},
      {"curl_exec", registry_fn(php_lib_taint_curl_exec), 1, 0},
      {"socket_read", registry_fn(php_lib_taint_socket_read), 2, 0},
      {"pfsockopen", registry_fn(php_lib_fsockopen), 2, 0},
      {"stream_socket_client", registry_fn(php_lib_taint_socket_client), 1, 0},
      /* The address of a host the request names is the request's choice. */
      {"gethostbyname", registry_fn(php_lib_taint_request_item), 1, 0},
      {"gethostbynamel", registry_fn(php_lib_taint_request_array), 1, 0},
      /* Shell escaping, and hex of any bytes. */
      {"escapeshellarg", registry_fn(php_lib_taint_escapeshellarg), 1, 0},
      {"escapeshellcmd", registry_fn(php_lib_taint_escapeshellcmd), 1, 0},
      {"bin2hex", registry_fn(php_lib_taint_carried<qz_engine_bin2hex>), 1, 0},
      /* A class's doc comment read through reflection. */
      {"new ReflectionClass", registry_fn(php_lib_reflection_class), 1, 0},
      {"->getDocComment", registry_fn(php_lib_reflection_doc_comment), 0, 0},
      /* A constant read by its name as text. */
      {"constant", registry_fn(php_lib_constant), 1, 0},
      /* Digits the request sent, read as numbers or characters. */
      {"hexdec", registry_fn(php_lib_taint_from_digits<php_lib_text_hexdec>), 1, 0},
      {"octdec", registry_fn(php_lib_taint_from_digits<php_lib_text_octdec>), 1, 0},
      {"bindec", registry_fn(php_lib_taint_from_digits<php_lib_text_bindec>), 1, 0},
      {"dechex", registry_fn(php_lib_taint_from_digits<php_lib_text_dechex>), 1, 0},
      {"decoct", registry_fn(php_lib_taint_from_digits<php_lib_text_decoct>), 1, 0},
      {"decbin", registry_fn(php_lib_taint_from_digits<php_lib_text_decbin>), 1, 0},
      {"chr", registry_fn(php_lib_taint_from_digits<php_lib_chr>), 1, 0},
      /* Whole numbers through the rounding and conversion functions. */
      {"round", registry_fn(php_lib_whole_number), 1, 0},
      {"floor", registry_fn(php_lib_whole_number), 1, 0},
      {"ceil", registry_fn(php_lib_whole_number), 1, 0},
      {"intval", registry_fn(php_lib_whole_number), 1, 0},
      {"abs", registry_fn(php_lib_abs), 1, 0},
      {"ord", registry_fn(php_lib_taint_from_digits<php_lib_ord>), 1, 0},
  };
  out->insert(out->end(), std::begin(rows), std::end(rows));
  if (qz_engine_options & QZ_OPT_FULL_DECODE)
    out->push_back({"gzdecode", registry_fn(php_lib_taint_carried<qz_engine_gzdecode>), 1, 0});
}

/* The rows every scan has, after those of extended reading. */
static void registry_base_rows(std::vector<registry_row>* out) {
  /* Order matters: a name registered twice resolves to its first row. The
   * three repeated names ("qz_array_item", "stripslashes", "count") keep
   * their later handlers registered but unreachable by name. */
  const registry_row rows[] = {
      {"qz_array_item", registry_fn(php_lib_reference_array_item), 2, 0},
      {"qz_array_item", registry_fn(php_lib_build_empty_array), 0, 0},
      {"array", registry_fn(php_lib_build_array), 0, 1},
      {"chr", registry_fn(php_lib_chr), 1, 0},
      {"ord", registry_fn(php_lib_ord), 1, 0},
      {"str_rot13", registry_fn(qz_engine_str_rot13), 1, 0},
      {"strlen", registry_fn(qz_engine_str_len), 1, 0},
      {"define", registry_fn(php_lib_define), 2, 0},
      {"explode", registry_fn(php_lib_explode), 2, 0},
      {"count", registry_fn(php_lib_array_count), 1, 0},
      {"strtolower", registry_fn(qz_engine_str_to_lower), 1, 0},
      {"strtoupper", registry_fn(qz_engine_str_to_upper), 1, 0},
      {"str_replace", registry_fn(php_lib_str_replace), 3, 0},
      {"urldecode", registry_fn(qz_engine_urldecode), 1, 0},
      {"base64_encode", registry_fn(qz_engine_b64encode), 1, 0},
      {"base64_decode", registry_fn(qz_engine_b64decode), 1, 0},
      {"gzinflate", registry_fn(qz_engine_gzinflate), 1, 0},
      {"gzuncompress", registry_fn(qz_engine_gzuncompress), 1, 0},
      {"file_get_contents", registry_fn(php_lib_file_get_contents), 1, 0},
      {"fopen", registry_fn(php_lib_fopen), 2, 0},
      {"fread", registry_fn(php_lib_fread), 2, 0},
      {"fgets", registry_fn(php_lib_fgets), 1, 0},
      {"fsockopen", registry_fn(php_lib_fsockopen), 2, 0},
      {"stripslashes", registry_fn(php_lib_stripslashes), 1, 0},
      {"create_function", registry_fn(php_lib_create_function), 2, 0},
      {"eval", registry_fn(php_lib_eval), 1, 0},
      {"assert", registry_fn(php_lib_assert), 1, 0},
      {"preg_replace", registry_fn(php_lib_preg_replace), 3, 0},
      {"file_put_contents", registry_fn(php_lib_file_put_contents), 2, 0},
      {"fwrite", registry_fn(php_lib_fwrite), 2, 0},
      {"fputs", registry_fn(php_lib_fputs), 2, 0},
      {"mysql_fetch_row", registry_fn(php_lib_mysql_fetch_row), 1, 0},
      {"mysql_fetch_assoc", registry_fn(php_lib_mysql_fetch_assoc), 1, 0},
      {"qz_var_var", registry_fn(php_lib_var_var), 1, 0},
      {"getenv", registry_fn(php_lib_getenv), 1, 0},
      {"strrev", registry_fn(qz_engine_strrev), 1, 0},
      {"addslashes", registry_fn(php_lib_passit), 1, 0},
      {"strip_tags", registry_fn(php_lib_passit), 1, 0},
      {"stripslashes", registry_fn(php_lib_passit), 1, 0},
      {"htmlspecialchars", registry_fn(php_lib_passit), 1, 0},
      {"mb_convert_encoding", registry_fn(php_lib_passit), 1, 0},
      {"range", registry_fn(php_lib_range), 2, 0},
      {"getconstant", registry_fn(php_lib_getconstant), 1, 0},
      {"_qz_dump_", registry_fn(php_lib_dump_variales), 0, 0},
      {"count", registry_fn(php_lib_count), 0, 0},
  };
  static_assert(sizeof(rows) / sizeof(rows[0]) == 45, "every registration is listed");
  out->insert(out->end(), std::begin(rows), std::end(rows));
  /* With full decoding the gzip framing is decoded too; registered last so
   * that it changes nothing else. */
  if (qz_engine_options & QZ_OPT_FULL_DECODE)
    out->push_back({"gzdecode", registry_fn(qz_engine_gzdecode), 1, 0});
}

/* Makes registry_start fit the current options and engine table. False,
 * with nothing made, when memory runs out. */
static bool registry_make_start() {
  const unsigned long options = qz_engine_options & (QZ_OPT_INTERPRETER_REACH | QZ_OPT_FULL_DECODE);
  const unsigned long epoch = qz_engine_isym_epoch();
  if (registry_start.made && registry_start.options == options && registry_start.epoch == epoch)
    return true;
  registry_start.made = false;
  registry_start.first.clear();
  registry_start.rows.clear();
  try {
    if (options & QZ_OPT_INTERPRETER_REACH) registry_reach_rows(&registry_start.rows);
    registry_base_rows(&registry_start.rows);
    for (size_t i = 0; i < registry_start.rows.size(); i++) {
      registry_row& r = registry_start.rows[i];
      r.name = qz_engine_insert_isym(const_cast<char*>(r.name));
      if (!r.name) return false;
      registry_start.first.emplace(r.name, i);
    }
    registry_start_entries.reserve(registry_start.rows.size());
  } catch (const std::bad_alloc&) {
    registry_start.first.clear();
    registry_start.rows.clear();
    return false;
  }
  registry_start.options = options;
  registry_start.epoch = epoch;
  registry_start.made = true;
  return true;
}

void php_lib_startup() {
  php_create_superglobals();
  if (qz_php_internal_function_map.count == 0 && registry_make_start()) {
    /* The starting rows become the pool's first entries, found through
     * registry_start's index. A row the pool refuses is left out, as a
     * refused registration always is, and the rows after it go the common
     * way. */
    registry_start_entries.clear();
    const std::vector<registry_row>& rows = registry_start.rows;
    size_t i = 0;
    for (; i < rows.size(); i++) {
      _php_function_map* e = qz_php_internal_function_map.alloc(nullptr);
      if (!e) break;
      *e = _php_function_map{const_cast<char*>(rows[i].name), rows[i].func, rows[i].argc,
                             rows[i].varargs};
      registry_start_entries.push_back(e);
    }
    for (i++; i < rows.size(); i++)
      php_lib_append_internal_function(rows[i].name, rows[i].func, rows[i].argc, rows[i].varargs);
  } else {
    /* Registrations came first (or the rows could not be made): every row
     * is appended behind them. */
    try {
      std::vector<registry_row> rows;
      if (qz_engine_options & QZ_OPT_INTERPRETER_REACH) registry_reach_rows(&rows);
      registry_base_rows(&rows);
      for (const registry_row& r : rows)
        php_lib_append_internal_function(r.name, r.func, r.argc, r.varargs);
    } catch (const std::bad_alloc&) {
      qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
    }
  }
  php_lib_builtin_scan_begin();
}

void php_lib_shutdown() {
  qz_php_internal_function_map.reset_in_place(QZ_REGISTRY_KEEP_SLABS);
  registry_index.clear();
  registry_start_entries.clear();
}
