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

/** An empty store; NULL when memory runs out. Release with Config_Close. */
QB_API void* Config_Init(void);
/** Clears the store, destroys its lock and frees the handle; 0, or -1 for NULL. */
QB_API int Config_Close(void* handle);
/** Removes every section and entry; 0, or -1 for NULL. */
QB_API int Config_Delete_All(void* handle);

/** Replaces the contents with the INI text in buffer; 0 or -1. */
QB_API int Config_Buffer_Load(void* handle, char* buffer);
/** Replaces the contents with the INI file (a NUL in it ends the document); 0, or -1
 * (store unchanged when the file cannot be read). */
QB_API int Config_File_Load(void* handle, char* file_name);

/** Appends the INI text to the NUL-terminated string already in buffer; the
 * caller guarantees room for all of it. */
QB_API int Config_Buffer_Write(void* handle, char* buffer);
/** Bounded form: size is the capacity of buffer. -1, with buffer unchanged,
 * when the existing string, the text and the terminator do not fit. */
QB_API int Config_Buffer_Write_N(void* handle, char* buffer, int size);
/** Writes the INI text to file_name; 0, or -1 when any write, flush or close fails; an existing regular file is
 * replaced only once the new text is completely on disk. */
QB_API int Config_File_Write(void* handle, char* file_name);

/** 1 when the section exists, else 0. */
QB_API int Config_Section_Exists(void* handle, char* section_key);
/** 1 when the entry exists, else 0. */
QB_API int Config_Exists(void* handle, char* section_key, char* key);
/** 0 with *val pointing into the store, or -1 (logged) when the entry is missing. */
QB_API int Config_Get(void* handle, char* section_key, char* key, char** val);
/** The value inside the store, or NULL when the entry is missing. */
QB_API char* Config_Get_Ptr(void* handle, char* section_key, char* key);
/** Adds an empty section at the end; -1 when it already exists. */
QB_API int Config_Add_Section(void* handle, char* section_key);
/** Adds an entry (and its section when new); -1 when the entry exists.
 * A null val is stored as "__undefined" in an existing section, "" in a new one. */
QB_API int Config_Add(void* handle, char* section_key, char* key, char* val);
/** Replaces an existing entry's value; -1 when it is missing or val is NULL. */
QB_API int Config_Update(void* handle, char* section_key, char* key, char* val);
/** Removes a section with its entries; -1 when it is missing. */
QB_API int Config_Delete_Section(void* handle, char* section_key);
/** Removes an entry; -1 when it is missing. The section stays, even when it becomes empty. */
QB_API int Config_Delete_Entry(void* handle, char* section_key, char* key);

/** The number of sections (0 for NULL). */
QB_API int Config_Section_Get_Count(void* handle);
/** The name of section number index (from 0), inside the store; NULL when out of range. */
QB_API char* Config_Section_Get_At(void* handle, int index);
/** The number of entries in a section, 0 when it is missing. */
QB_API int Config_Get_Count(void* handle, char* section_name);
/** Same as Config_Get_Count. */
QB_API int Config_Item_Get_Count(void* handle, char* section_key);
/** The key of entry number index (from 0) of a section, inside the store; NULL when missing. */
QB_API char* Config_Item_Get_Key_At(void* handle, char* section_key, int index);
/** The value of entry number index (from 0) of a section, inside the store; NULL when missing. */
QB_API char* Config_Item_Get_Val_At(void* handle, char* section_key, int index);

/** Prints the whole store on standard output (not through the logger). */
QB_API int Config_Dump(void* handle);
/** The section names as a JSON array in *json (heap, free it); 0 or -1. */
QB_API int Config_Dump_Section_Json(void* handle, char** json);
/** A section's entries as a JSON array of {"key":...,"val":...} objects in *json
 * (heap, free it; "[]" for a missing section); 0 or -1. */
QB_API int Config_Dump_Entry_Json(void* handle, char* section_name, char** json);

QB_END_DECLS

#endif /* CONFIG_FILE_H */
