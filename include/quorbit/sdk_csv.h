/** @file
 * In-memory tables of text fields, loaded from and saved to delimited text.
 *
 * Rows may differ in width; every row has at least one field. Rows and fields
 * are addressed by zero-based indices; an index that does not exist (negative
 * ones included) names a missing position. The table takes no lock of its own:
 * threads that share one bracket their calls with csv_lock and csv_unlock.
 * Fields are read as bytes: a byte 0xFF is data, and carriage returns are kept.
 * Tables come from csv_create_buffer or csv_dup_buffer only (they carry private
 * state behind the published record). */
#ifndef QB_SDK_CSV_H
#define QB_SDK_CSV_H

#include <stddef.h>

#include "qb_export.h"
#include "sdk_os.h"

QB_BEGIN_DECLS

typedef struct CSV_FIELD {
    char* text;    /**< NUL-terminated, owned by the table */
    size_t length; /**< length of text plus one */
} CSV_FIELD;

typedef struct CSV_BUFFER {
    CSV_FIELD*** field; /**< rows arrays of width[row] field pointers */
    size_t rows;
    size_t* width;
    char field_delim; /**< default ',' */
    char text_delim;  /**< default '"' */
    os_mutex mutex;   /**< used only by csv_lock / csv_unlock */
} CSV_BUFFER;

/** An empty table with the delimiters ',' and '"'; NULL when memory runs out. */
QB_API CSV_BUFFER* csv_create_buffer(void);
/** A copy of every row (NULL when memory runs out); the copy has the default delimiters, not those of src. */
QB_API CSV_BUFFER* csv_dup_buffer(CSV_BUFFER* src);
/** Frees the table and every field; NULL is fine. */
QB_API void csv_destroy_buffer(CSV_BUFFER* buffer);
/** Takes the table's lock (blocking). */
QB_API void csv_lock(CSV_BUFFER* buffer);
/** Releases the table's lock. */
QB_API void csv_unlock(CSV_BUFFER* buffer);

/** Parses a delimited file. 0; 1 if the file cannot be opened; 2 if memory runs out (the table keeps
 * what was read). Rows are appended to those the table already holds. */
QB_API int csv_load(CSV_BUFFER* buffer, char* file_name);
/** Writes the table as delimited text, quoting where needed. 0; 1 if the file
 * cannot be opened, written or closed. The file does not end
 * with a line feed. */
QB_API int csv_save(char* file_name, CSV_BUFFER* buffer);

/** The number of rows (0 for NULL). */
QB_API int csv_get_height(CSV_BUFFER* buffer);
/** The number of fields in row, 0 when the row is missing. */
QB_API int csv_get_width(CSV_BUFFER* buffer, size_t row);
/** The field's length without its terminator, 0 when it is missing. */
QB_API int csv_get_field_length(CSV_BUFFER* buffer, size_t row, size_t entry);
/** Pointer into the table, valid until the field changes; NULL if missing. */
QB_API char* csv_get_field_ptr(CSV_BUFFER* src, size_t row, size_t entry);
/** Copies at most dest_len characters and a terminator (dest holds dest_len + 1
 * bytes): 0 whole, 1 cut short, 2 no such field (dest empty), 3 dest_len is 0. */
QB_API int csv_get_field(char* dest, size_t dest_len, CSV_BUFFER* src, size_t row, size_t entry);

/* Results below: 0 done, 1 memory ran out or a named position is missing. */

/** Sets a field, first adding empty rows and fields up to it; NULL stores "". */
QB_API int csv_set_field(CSV_BUFFER* buffer, size_t row, size_t entry, char* field);
/** Inserts a field before entry, shifting the rest right; a missing position is set
 * as by csv_set_field. */
QB_API int csv_insert_field(CSV_BUFFER* buffer, size_t row, size_t entry, char* field);
/** Copies one existing field's text onto another existing field (tables may differ). */
QB_API int csv_copy_field(CSV_BUFFER* dest, int dest_row, int dest_entry, CSV_BUFFER* source, int source_row,
                          int source_entry);
/** Replaces row dest_row (added if missing) by a copy of source_row; a missing source
 * row clears the destination row (csv_clear_row). */
QB_API int csv_copy_row(CSV_BUFFER* dest, int dest_row, CSV_BUFFER* source, int source_row);
/** Empties a field; the last field of a row wider than one is removed instead.
 * A missing field: 0. */
QB_API int csv_clear_field(CSV_BUFFER* buffer, size_t row, size_t entry);
/** A row other than the last becomes one empty field; the last row is removed.
 * A missing row: 0. */
QB_API int csv_clear_row(CSV_BUFFER* buffer, size_t row);
/** Removes a row, moving the later ones up; returns 0 (also for a missing row). */
QB_API int csv_remove_row(CSV_BUFFER* buffer, size_t row);
/** Removes every row; returns 0. */
QB_API int csv_remove_all_row(CSV_BUFFER* buffer);
/** Removes a field, moving the later ones left; a row's only field is emptied
 * instead. A missing field: 0. */
QB_API int csv_remove_field(CSV_BUFFER* buffer, size_t row, size_t entry);
/** The first row whose field number field equals field_str, or -1. */
QB_API int csv_find_row_by_field(CSV_BUFFER* buffer, int field, char* field_str);

/** Sets the field delimiter used by later loads and saves. */
QB_API void csv_set_field_delim(CSV_BUFFER* buffer, char delim);
/** Sets the quoting character used by later loads and saves. */
QB_API void csv_set_text_delim(CSV_BUFFER* buffer, char delim);

QB_END_DECLS

#endif /* QB_SDK_CSV_H */
