/** @file
 * Dotted-path access into json-c documents ("app.cs.masterNamespace",
 * "B.C[1].D") and short aliases for the json-c calls used across the library.
 *
 * Nothing is copied: returned objects and strings belong to the document and
 * live as long as it does. Path components are split at "."; a component
 * "name[i]" takes element i of the array member name ("[i]" alone indexes
 * the current node). There is no escape, so member names containing "." or
 * "[" cannot be reached.
 */
#ifndef JSON_EASY_H
#define JSON_EASY_H

#include <json-c/json.h>

#include "qb_export.h"

QB_BEGIN_DECLS

typedef struct json_object Json;

#define Json_to_str(x) json_object_to_json_string_ext((x), JSON_C_TO_STRING_PLAIN)
#define Json_to_str_pretty(x) json_object_to_json_string_ext((x), JSON_C_TO_STRING_PRETTY)
#define Json_from_str json_tokener_parse
#define Json_free json_object_put
#define Json_new json_object_new_object
#define Json_str json_object_get_string
#define Json_int json_object_get_int
#define Json_array_new json_object_new_array
#define Json_array_length json_object_array_length
#define Json_array_get json_object_array_get_idx
#define Json_array_add json_object_array_add
#define Json_add_obj json_object_object_add

/** The node sub_path names below o; NULL when o is NULL or the path does not resolve. */
QB_API struct json_object* Json_get_obj(struct json_object* o, char* sub_path);
/** json_object_get_string of that node (JSON text for non-strings), or NULL. */
QB_API char* Json_get_str(struct json_object* o, char* sub_path);
/** json_object_get_int of that node, or -1 (indistinguishable from a stored -1). */
QB_API int Json_get_int(struct json_object* o, char* sub_path);
/** Adds or replaces string member key of object o. 0 on success; -1 for a null o,
 * key or str, or an o that is not an object. */
QB_API int Json_add_str(struct json_object* o, char* key, char* str);
/** Adds or replaces integer member key of object o; 0, or -1 as for Json_add_str. */
QB_API int Json_add_int(struct json_object* o, char* key, int val);

QB_END_DECLS

#endif /* JSON_EASY_H */
