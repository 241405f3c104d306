/** @file
 * In-memory INI store: ordered sections of ordered key/value string entries,
 * loaded from text or a file and written back as "[section]" and "key=value"
 * lines. Every operation except Config_Init takes the handle as void*.
 *
 * Values handed out by look-ups point into the store: they stay valid until
 * the entry is updated or deleted or the store is cleared, reloaded or closed.
 * JSON texts returned through a char** are fresh heap strings (free them).
 */
#ifndef CONFIG_FILE_H
#define CONFIG_FILE_H

#include "qb_export.h"
#include "sdk_list.h"
#include "sdk_os.h"

QB_BEGIN_DECLS

struct config_handle {
    struct list_head section_list; /**< config_section records, insertion order */
    os_mutex mutex;                /**< guards both list levels and their strings */
};
typedef struct config_handle config_handle;

struct config_section {
    struct list_head node;       /**< link in section_list */
    char* key;                   /**< section name, owned by the store */
    struct list_head entry_list; /**< config_entry records, insertion order */
};
typedef struct config_section config_section;

struct config_entry {
    struct list_head node; /**< link in the section's entry_list */
    char* key;             /**< owned by the store */
    char* val;             /**< owned by the store; never null once stored */
};
typedef struct config_entry config_entry;

QB_API void* Config_Init(void);
/** Clears the store, destroys its lock and frees the handle. */
QB_API int Config_Close(void* handle);
QB_API int Config_Delete_All(void* handle);

/** Loading replaces the contents. A NUL in a file ends the document. */
QB_API int Config_Buffer_Load(void* handle, char* buffer);
QB_API int Config_File_Load(void* handle, char* file_name);

/** Appends the INI text to the NUL-terminated string already in buffer; the
 * caller guarantees room for all of it. */
QB_API int Config_Buffer_Write(void* handle, char* buffer);
/** Bounded form: size is the capacity of buffer. -1, with buffer unchanged,
 * when the existing string, the text and the terminator do not fit. */
QB_API int Config_Buffer_Write_N(void* handle, char* buffer, int size);
/** -1 when any write, flush or close fails; an existing regular file is
 * replaced only once the new text is completely on disk. */
QB_API int Config_File_Write(void* handle, char* file_name);

QB_API int Config_Section_Exists(void* handle, char* section_key);
QB_API int Config_Exists(void* handle, char* section_key, char* key);
QB_API int Config_Get(void* handle, char* section_key, char* key, char** val);
QB_API char* Config_Get_Ptr(void* handle, char* section_key, char* key);
QB_API int Config_Add_Section(void* handle, char* section_key);
/** A null val is stored as "__undefined" in an existing section, "" in a new one. */
QB_API int Config_Add(void* handle, char* section_key, char* key, char* val);
QB_API int Config_Update(void* handle, char* section_key, char* key, char* val);
QB_API int Config_Delete_Section(void* handle, char* section_key);
/** The section stays, even when it becomes empty. */
QB_API int Config_Delete_Entry(void* handle, char* section_key, char* key);

QB_API int Config_Section_Get_Count(void* handle);
QB_API char* Config_Section_Get_At(void* handle, int index);
QB_API int Config_Get_Count(void* handle, char* section_name);
QB_API int Config_Item_Get_Count(void* handle, char* section_key);
QB_API char* Config_Item_Get_Key_At(void* handle, char* section_key, int index);
QB_API char* Config_Item_Get_Val_At(void* handle, char* section_key, int index);

/** Prints the whole store on standard output (not through the logger). */
QB_API int Config_Dump(void* handle);
QB_API int Config_Dump_Section_Json(void* handle, char** json);
QB_API int Config_Dump_Entry_Json(void* handle, char* section_name, char** json);

QB_END_DECLS

#endif /* CONFIG_FILE_H */
