/** @file
 * Whole-file helpers: length, existence, read into memory, write, append,
 * copy, delete, create the directories of a path, replace text in a file.
 * Failures log at error level with the tag "file_ops". No helper keeps a file
 * open after it returns; none locks, so callers serialise work on one file.
 */
#ifndef SDK_FILE_OPS_H
#define SDK_FILE_OPS_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** Length in bytes; 0 (logged) when the file cannot be opened or measured. */
QB_API int File_Len(char* file_name);
/** 1 when the path opens for reading (a directory counts), else 0. */
QB_API int File_Exists(const char* filename);
/** Reads a regular file into a malloc'ed block of *size + 1 bytes whose last
 * byte is always zero. *size is set once the length is known. 0 or -1. */
QB_API int File_Read_Binary(char* file_name, char** buffer_out, int* size);
/** The whole regular file as a NUL-terminated heap string (an empty file gives
 * ""), or NULL. The caller frees it. */
QB_API char* File_Read_String(char* file_name);
/** Writes buffer_size bytes to file_name, creating or truncating it; the byte count, or -1 on any open, write or close error. */
QB_API int File_Write(char* file_name, char* buffer, int buffer_size);
/** Appends the string without its NUL to file_name (created if missing); the byte count, or -1 on error. */
QB_API int File_Append_String(char* file_name, char* buffer);
/** Copies src to dest. Opens both before checking, so a missing src still creates or truncates
 * dest. 0, or -1 when either cannot be opened or a write or close fails. */
QB_API int File_Copy(char* src, char* dest);
/** remove(): a file or an empty directory. 0 or -1. */
QB_API int File_Delete(char* path);
/** Creates every missing directory of the part of path before its last "/".
 * Returns 0 in all cases. */
QB_API int File_Mkdir(char* path, int mode);
/** Writes filename_src with every orig_word replaced by replace_word (NULL is
 * "") to filename_dst. 0, or -1 when the source cannot be read, orig_word is
 * NULL or empty, memory runs out or the write fails. */
QB_API int File_Replace_String(char* filename_src, char* filename_dst, char* orig_word, char* replace_word);

QB_END_DECLS

#endif /* SDK_FILE_OPS_H */
