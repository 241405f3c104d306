/*
 * A component that keeps its port configuration in storage and hands a result
 * file on by its location text. Stand-alone it writes configs/ and studio/
 * under the working directory; on the platform with --storage-type "local" it
 * writes below /global/configs and the --storage-local-temp-store root.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qb_env.h"
#include "qb_storage.h"
#include "sdk_logger.h"
#include "sdk_md5.h"

static const char* TAG = "STORAGE_COMPONENT";

static void md5_hex(const char* text, char out[33]) {
    unsigned char d[16];
    SDK_MD5String((char*)text, d);
    for (int i = 0; i < 16; ++i) snprintf(out + 2 * i, 3, "%02x", d[i]);
}

int main(void) {
    LOGI(TAG, "running %s", quorbit_valid() ? "on the platform" : "stand-alone");
    QB_Storage storage = qb_storage_init();
    if (!storage) {
        LOGE(TAG, "no storage backend");
        return 1;
    }
    int rc = 1;
    char config[] = "{\"threshold\": 0.5, \"label\": \"demo\"}";
    char* loaded = NULL;
    int size = 0;
    char* url = NULL;
    char* result = NULL;
    int result_len = 0;
    char digest[33];

    if (qb_config_save(storage, "in1", "settings.json", config, (int)strlen(config)) < 0) goto done;
    if (qb_config_load(storage, "in1", "settings.json", &loaded, &size) != 0) goto done;
    md5_hex(loaded, digest);
    LOGI(TAG, "configuration of in1: %s (%d bytes, md5 %s)", loaded, size, digest);

    // A result for the next node: it receives the location text and the file name.
    char output[] = "result of request r1";
    url = qb_tmp_file_save(storage, "r1", "out1", "result.txt", output, (int)strlen(output));
    if (!url) goto done;
    if (qb_tmp_file_load(storage, url, "result.txt", &result, &result_len) != 0) goto done;
    LOGI(TAG, "result stored at %s/result.txt: %.*s", url, result_len, result);
    rc = 0;

done:
    if (rc != 0) LOGE(TAG, "storage operation failed");
    free(loaded);
    free(url);
    free(result);
    qb_storage_deinit(storage);
    return rc;
}
