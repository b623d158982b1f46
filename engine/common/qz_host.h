#ifndef QZ_HOST_H
#define QZ_HOST_H

/*
 * The bottom of the engine: what every stage shares with the host and with
 * each other. The host's callback slots and their invokers, the interrupt
 * flag, the option flags, the interned keyword/operator/marker handles and
 * the reporting of internal faults. It includes nothing of the engine but
 * the public headers and the limits, so any module may include it.
 *
 * All of it is process-global; one scan runs at a time on the caller's
 * thread. The handles are filled by qz_engine_startup (api/) when it interns
 * their texts and emptied by nothing: they stay valid until shutdown.
 */

#include <qzengine/qzengine.h>

/* Callback slots: empty (null) at load; startup and shutdown leave them alone. */
QZ_EXPORT extern qz_exception_handler_t qz_engine_exception_handler;
QZ_EXPORT extern qz_fcall_filter_t qz_engine_fcall_filter;
QZ_EXPORT extern qz_performace_filter_t qz_engine_performace_filter;
QZ_EXPORT extern qz_output_handler_t qz_engine_script_output_handler;
QZ_EXPORT extern qz_vardump_handler_t qz_engine_vardump_handler;

/* 1 once the running scan must end at its next token poll. */
QZ_EXPORT extern unsigned char qz_engine_interupt_debug;

/* Option flags (qz_engine_option_flags) in force; 0 at load. */
extern unsigned long qz_engine_options;

/* qz_scan_status_flags gathered during the current scan; cleared when a scan
 * starts, read by qz_engine_scan_status. */
extern unsigned long qz_engine_scan_flags;
/* Records that the running scan is incomplete in the way flag says. */
inline void qz_scan_note(qz_scan_status_flags flag) { qz_engine_scan_flags |= flag; }

/* Handles: interned texts of the internal symbol table, valid from startup to
 * shutdown. Token names are compared with them by pointer. */
#define QZ_ENGINE_HANDLES(X)                              \
  X(qz_engine_if_handle, "if")                            \
  X(qz_engine_else_handle, "else")                        \
  X(qz_engine_for_handle, "for")                          \
  X(qz_engine_do_handle, "do")                            \
  X(qz_engine_while_handle, "while")                      \
  X(qz_engine_function_handle, "function")                \
  X(qz_engine_class_handle, "class")                      \
  X(qz_engine_try_handle, "try")                          \
  X(qz_engine_foreach_handle, "foreach")                  \
  X(qz_engine_switch_handle, "switch")                    \
  X(qz_engine_echo_handle, "echo")                        \
  X(qz_engine_print_handle, "print")                      \
  X(qz_engine_array_handle, "array")                      \
  X(qz_engine_quote_handle, ";")                          \
  X(qz_engine_comma_handle, ",")                          \
  X(qz_engine_sleft_handle, "(")                          \
  X(qz_engine_sright_handle, ")")                         \
  X(qz_engine_mleft_handle, "[")                          \
  X(qz_engine_mright_handle, "]")                         \
  X(qz_engine_lleft_handle, "{")                          \
  X(qz_engine_lright_handle, "}")                         \
  X(qz_engine_tint_handle, "int")                         \
  X(qz_engine_tbool_handle, "bool")                       \
  X(qz_engine_tfloat_handle, "float")                     \
  X(qz_engine_tstring_handle, "string")                   \
  X(qz_engine_tarray_handle, "array")                     \
  X(qz_engine_tobject_handle, "object")                   \
  X(qz_engine_tint2_handle, "integer")                    \
  X(qz_engine_tbool2_handle, "boolean")                   \
  X(qz_engine_tfloat2_handle, "double")                   \
  X(qz_engine_tfloat3_handle, "real")                     \
  X(qz_engine_array_pair_handle, "=>")                    \
  X(qz_engine_assign_handle, "=")                         \
  X(qz_engine_equal_handle, "==")                         \
  X(qz_engine_bigger_handle, ">")                         \
  X(qz_engine_smaller_handle, "<")                        \
  X(qz_engine_ebigger_handle, ">=")                       \
  X(qz_engine_esmaller_handle, "<=")                      \
  X(qz_engine_nequal_handle, "!=")                        \
  X(qz_engine_self_inc_handle, "++")                      \
  X(qz_engine_self_dec_handle, "--")                      \
  X(qz_engine_add_handle, "+")                            \
  X(qz_engine_sub_handle, "-")                            \
  X(qz_engine_mul_handle, "*")                            \
  X(qz_engine_div_handle, "/")                            \
  X(qz_engine_cat_handle, ".")                            \
  X(qz_engine_catassign_handle, ".=")                     \
  X(qz_engine_arrpair_handle, "=>")                       \
  X(qz_engine_var_var_handle, "qz_var_var")               \
  X(qz_engine_dolar_handle, "$")                          \
  X(qz_engine_invalid_string_handle, "qz_invalid_string") \
  X(qz_engine_array_item_handle, "qz_array_item")         \
  X(qz_engine_decode_handle, "qz_decoded")                \
  X(qz_engine_dangerous_call, "eval")                     \
  X(qz_engine_dangerous_data, "$_POST_DATA")

#define QZ_DECLARE_HANDLE(name, text) QZ_EXPORT extern char* name;
QZ_ENGINE_HANDLES(QZ_DECLARE_HANDLE)
#undef QZ_DECLARE_HANDLE

/* The invalid-string text, usable even before startup. */
#define QZ_INVALID_STRING_TEXT "qz_invalid_string"
#define QZ_DECODED_TEXT "qz_decoded"

/* The invalid-string text as interned at startup, or the constant text
 * before startup and after shutdown. */
inline const char* qz_invalid_string_text() {
  return qz_engine_invalid_string_handle ? qz_engine_invalid_string_handle : QZ_INVALID_STRING_TEXT;
}

/* The internal faults the engine reports to the host's exception handler.
 * Each has a fixed source text, line and message that hosts see (and may
 * match on), kept byte for byte in one table in qz_host.cpp. */
enum qz_fault_id {
  QZ_FAULT_TOKEN_ALLOC,       /* the token pool could not supply a token */
  QZ_FAULT_TOKEN_CLONE_NULL,  /* qz_token_clone of null */
  QZ_FAULT_TOKEN_LENGTH_NULL, /* qz_token_lenth of null */
  QZ_FAULT_STRING_REF_NULL,   /* qz_reference_string of null */
  QZ_FAULT_ARRAY_KEY_NULL,    /* qz_array_item with a null key */
  QZ_FAULT_ARRAY_ITEM_VAR,    /* array indexing could not reach its variable */
  QZ_FAULT_CALL_NAME_NULL,    /* a call whose name cannot be settled */
  QZ_FAULT_REPLACE_ALLOC,     /* str_replace could not allocate its result */
  QZ_FAULT_COUNT
};

/* Hands fault id's fixed texts to the exception handler, if one is set. The
 * handler gets writable copies that live until it returns. */
void qz_report_fault(qz_fault_id id);

#endif
