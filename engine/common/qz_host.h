#ifndef QZ_ENGINE_H
#define QZ_ENGINE_H

/*
 * Engine-wide state shared by the modules: callback slots, the interrupt flag,
 * the interned keyword/operator/marker handles and the option flags. All of it
 * is process-global; one scan runs at a time on the caller's thread.
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

/* Handles: interned texts of the internal symbol table, valid from startup to
 * shutdown. Token names are compared with them by pointer. */
#define QZ_ENGINE_HANDLES(X)                          \
  X(qz_engine_if_handle, "if")                        \
  X(qz_engine_else_handle, "else")                    \
  X(qz_engine_for_handle, "for")                      \
  X(qz_engine_do_handle, "do")                        \
  X(qz_engine_while_handle, "while")                  \
  X(qz_engine_function_handle, "function")            \
  X(qz_engine_class_handle, "class")                  \
  X(qz_engine_try_handle, "try")                      \
  X(qz_engine_foreach_handle, "foreach")              \
  X(qz_engine_switch_handle, "switch")                \
  X(qz_engine_echo_handle, "echo")                    \
  X(qz_engine_print_handle, "print")                  \
  X(qz_engine_array_handle, "array")                  \
  X(qz_engine_quote_handle, ";")                      \
  X(qz_engine_comma_handle, ",")                      \
  X(qz_engine_sleft_handle, "(")                      \
  X(qz_engine_sright_handle, ")")                     \
  X(qz_engine_mleft_handle, "[")                      \
  X(qz_engine_mright_handle, "]")                     \
  X(qz_engine_lleft_handle, "{")                      \
  X(qz_engine_lright_handle, "}")                     \
  X(qz_engine_tint_handle, "int")                     \
  X(qz_engine_tbool_handle, "bool")                   \
  X(qz_engine_tfloat_handle, "float")                 \
  X(qz_engine_tstring_handle, "string")               \
  X(qz_engine_tarray_handle, "array")                 \
  X(qz_engine_tobject_handle, "object")               \
  X(qz_engine_tint2_handle, "integer")                \
  X(qz_engine_tbool2_handle, "boolean")               \
  X(qz_engine_tfloat2_handle, "double")               \
  X(qz_engine_tfloat3_handle, "real")                 \
  X(qz_engine_array_pair_handle, "=>")                \
  X(qz_engine_assign_handle, "=")                     \
  X(qz_engine_equal_handle, "==")                     \
  X(qz_engine_bigger_handle, ">")                     \
  X(qz_engine_smaller_handle, "<")                    \
  X(qz_engine_ebigger_handle, ">=")                   \
  X(qz_engine_esmaller_handle, "<=")                  \
  X(qz_engine_nequal_handle, "!=")                    \
  X(qz_engine_self_inc_handle, "++")                  \
  X(qz_engine_self_dec_handle, "--")                  \
  X(qz_engine_add_handle, "+")                        \
  X(qz_engine_sub_handle, "-")                        \
  X(qz_engine_mul_handle, "*")                        \
  X(qz_engine_div_handle, "/")                        \
  X(qz_engine_cat_handle, ".")                        \
  X(qz_engine_catassign_handle, ".=")                 \
  X(qz_engine_arrpair_handle, "=>")                   \
  X(qz_engine_var_var_handle, "qz_var_var")           \
  X(qz_engine_dolar_handle, "$")                      \
  X(qz_engine_invalid_string_handle, "qz_invalid_string") \
  X(qz_engine_array_item_handle, "qz_array_item")     \
  X(qz_engine_decode_handle, "qz_decoded")            \
  X(qz_engine_dangerous_call, "eval")                 \
  X(qz_engine_dangerous_data, "$_POST_DATA")

#define QZ_DECLARE_HANDLE(name, text) QZ_EXPORT extern char* name;
QZ_ENGINE_HANDLES(QZ_DECLARE_HANDLE)
#undef QZ_DECLARE_HANDLE

/* The invalid-string text, usable even before startup. */
#define QZ_INVALID_STRING_TEXT "qz_invalid_string"
#define QZ_DECODED_TEXT "qz_decoded"

/* Reports an internal fault through the exception handler with the engine's
 * fixed texts (the handler's parameters are not const). */
void qz_report_fault(const char* file, int line, const char* message);

/* True while the engine is started and no scan is running; scans refuse to
 * start otherwise. */
bool qz_engine_can_scan();

#endif
