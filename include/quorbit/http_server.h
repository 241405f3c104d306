/** @file
 * An embedded HTTP server for a component's small web interface (built on GNU
 * libmicrohttpd). Every GET or POST request is decoded into json-c objects and
 * offered, in this order, to the general callback, to every registered CGI
 * entry whose method and exact path match, and to the static files under
 * "webroot" in the working directory; a request nobody handled gets
 * webroot/404.html or "404 Not Found", both with status 404. Other methods
 * get 501.
 *
 * - Callbacks run on the server's own threads, several at once; the CGI table
 *   is read without a lock, so register entries before requests arrive.
 * - A callback writes its answer with the Send operations before it returns;
 *   the answer is sent once the request has been through every step, so a
 *   request answered twice gets both bodies, the last status and type.
 * - Static files: a path with a ".." segment or a NUL (raw or percent-encoded),
 *   a file reached through a symlink leading out of webroot, or anything that
 *   is not a regular file is never served (the request goes on to 404).
 * - POST bodies above 10 MiB (uploads included) are refused with 413.
 * - Uploaded files (multipart) are stored in temporary files under TMPDIR;
 *   file_obj maps each field name to such a path and post_obj maps it to the
 *   name the client gave. The files are removed once the request is over.
 * - A client that goes away mid-answer never raises SIGPIPE.
 * - The server listens on all interfaces, never sharing its port.
 */
#ifndef HTTP_SERVER_H
#define HTTP_SERVER_H

#include <json-c/json.h>

#include "qb_export.h"

QB_BEGIN_DECLS

typedef enum SDK_HTTP_METHOD {
    SDK_HTTP_METHOD_EMPTY = 0, /**< free table slot */
    SDK_HTTP_METHOD_GET = 100,
    SDK_HTTP_METHOD_POST = 101
} SDK_HTTP_METHOD;

#define HTTP_HANDLED 1
#define HTTP_NOT_HANDLED 0

#define HTTP_SERVER_MAX_CGI 128
#define HTTP_SERVER_URL_SIZE 128

/** One request, valid only during the callback. The JSON objects hold string
 * members and belong to the server. */
typedef struct http_server_cb_param {
    void* handle;                     /**< the answer: first argument of the Send operations */
    char* url;                        /**< the request's decoded path, without the query */
    struct json_object* post_obj;     /**< form fields or the JSON body, or NULL */
    struct json_object* get_obj;      /**< query parameters; always present for GET */
    struct json_object* file_obj;     /**< uploads of a multipart POST (name -> temporary file), or NULL */
    struct json_object* cookie_jobj;  /**< request cookies, or NULL */
    void* user;                       /**< as given to SDK_HTTP_Server_Start */
} http_server_cb_param;

/** Returns HTTP_HANDLED or HTTP_NOT_HANDLED. */
typedef int (*HTTP_Server_Callback)(http_server_cb_param* param);
typedef void (*HTTP_Server_CGI_Callback)(http_server_cb_param* param);

typedef struct method_url {
    int method; /**< SDK_HTTP_METHOD */
    char url[HTTP_SERVER_URL_SIZE];
    HTTP_Server_CGI_Callback callback;
} method_url;

/** Not used by the server. */
typedef struct http_cookie {
    char key[256];
    char val[256];
    int timeout_second;
} http_cookie;

typedef struct onion_handle {
    void* o; /**< the libmicrohttpd daemon */
    HTTP_Server_Callback cgi_handler;
    void* user;
    method_url m[HTTP_SERVER_MAX_CGI];
    http_cookie cookie;
} onion_handle;

typedef onion_handle* HttpServerHandle;

/** Listens on port (0 picks a free one, see SDK_HTTP_Server_Port). callback
 * may be NULL. NULL when the port cannot be bound. Sets ONION_LOG from the
 * log threshold (Onion_Set_loglevel). */
QB_API HttpServerHandle SDK_HTTP_Server_Start(int port, HTTP_Server_Callback callback, void* user);
/** Returns once the server's threads have ended. 0 (-1 for NULL). */
QB_API int SDK_HTTP_Server_Stop(HttpServerHandle server);
/** The port the server listens on, or -1. */
QB_API int SDK_HTTP_Server_Port(HttpServerHandle server);
/** Takes the first free slot; a full table ignores the entry. A url of 128
 * characters or more uses up a slot that never matches. 0 (-1 for NULL). */
QB_API int SDK_HTTP_Server_Register_CGI(HttpServerHandle server, SDK_HTTP_METHOD method, char* url,
                                        HTTP_Server_CGI_Callback callback);
/** Sets the status and the "Content-Type" header and appends length bytes. */
QB_API void SDK_HTTP_Server_Send_Response(void* handle, int response_code, char* content_type, char* body,
                                          int length);
/** Appends length more bytes to the answer's body. */
QB_API void SDK_HTTP_Server_Send_Response_Body(void* handle, char* body, int length);
/** Status 200 and the bytes as a download named file_name; the name loses CR,
 * LF, other control characters and quotes and is shortened to fit the
 * 100-byte "Content-Disposition" value. */
QB_API void SDK_HTTP_Server_Send_File_Response(void* handle, char* file_name, char* buffer, int length);
/** Adds "Set-Cookie: key=value" with an Expires date timeout seconds ahead;
 * 0 expires it at once, a negative timeout makes a session cookie. No path,
 * domain or flags. -1 when key or value holds characters a cookie cannot
 * carry (control characters, ";", and "=" or blanks in the key). */
QB_API int SDK_HTTP_Server_Send_Cookie(void* handle, char* key, char* value, int timeout);
/** ONION_LOG=noinfo below the verbose threshold, ONION_LOG=nodebug below debug. */
QB_API void Onion_Set_loglevel(void);

QB_END_DECLS

#endif /* HTTP_SERVER_H */
