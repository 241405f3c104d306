/** @file
 * Records of the uncompressed ZIP archives that hold NPZ files (see npy_array.h
 * for npy_array_list_save and npy_array_list_load). All numbers are stored
 * little-endian; the records below hold them in host order. */
#ifndef QB_ZIPCONTAINER_H
#define QB_ZIPCONTAINER_H

#include <stdint.h>

#include "qb_export.h"

QB_BEGIN_DECLS

#define LOCAL_HEADER_SIGNATURE 0x04034b50u
#define CENTRAL_DIRECTORY_HEADER_SIGNATURE 0x02014b50u
#define END_OF_CENTRAL_DIR_SIGNATURE 0x06054b50u

/* Fixed parts of the records, without their variable-length tails. */
#define LOCAL_HEADER_LENGTH 30
#define CENTRAL_DIRECTORY_HEADER_LENGTH 46
#define END_OF_CENTRAL_DIR_LENGTH 22

typedef struct local_file_header {
    uint32_t local_file_header_signature;
    uint16_t version_needed_to_extract;
    uint16_t general_purpose_bit_flag;
    uint16_t compression_method;
    uint16_t last_mod_file_time;
    uint16_t last_mod_file_date;
    uint32_t crc_32;
    uint32_t compressed_size;
    uint32_t uncompressed_size;
    uint16_t file_name_length;
    uint16_t extra_field_length;
    char* file_name;   /**< heap, file_name_length + 1 bytes */
    char* extra_field; /**< heap, extra_field_length + 1 bytes */
} local_file_header_t;

typedef struct central_directory_header {
    uint32_t central_file_header_signature;
    uint16_t version_made_by;
    uint16_t version_needed_to_extract;
    uint16_t general_purpose_bit_flag;
    uint16_t compression_method;
    uint16_t last_mod_file_time;
    uint16_t last_mod_file_date;
    uint32_t crc_32;
    uint32_t compressed_size;
    uint32_t uncompressed_size;
    uint16_t file_name_length;
    uint16_t extra_field_length;
    uint16_t file_comment_length;
    uint16_t disk_number_start;
    uint16_t internal_file_attributes;
    uint32_t external_file_attributes;
    uint32_t relative_offset_of_local_header;
    char* file_name;
    char* extra_field;
    char* file_comment;
} central_directory_header_t;

typedef struct end_of_central_dir {
    uint32_t end_of_central_dir_signature;
    uint16_t number_of_this_disk;
    uint16_t number_of_the_disk_start_of_cd;
    uint16_t total_num_entries_this_disk;
    uint16_t total_num_entries_cd;
    uint32_t size_of_cd;
    uint32_t offset_cd_wrt_disknum;
    uint16_t ZIP_file_comment_length;
    char* ZIP_file_comment;
} end_of_central_dir_t;

QB_END_DECLS

#endif /* QB_ZIPCONTAINER_H */
