/** @file
 * Platform RPC: asks the platform's RPC service of the component's cluster
 * namespace to run a function from a package held in object storage. Fire
 * and forget: the answer is not examined.
 *
 * The request is an HTTP POST of
 *   `{"RPCServerId":"windows-rpc-server-1","Function":<function>,`
 *    `"Context":{"UserId":..,"AppId":..,"NodeId":..,"RPCPackageOSSPath":<path>}}`
 * to `<host>:7000/rpc/invoke`. The host is QB_RPC_HOST_FORMAT with its "%s"
 * replaced by the namespace; the component parameter "--rpc-host-format"
 * (variable QB_RPC_HOST_FORMAT on the platform) replaces that format, for
 * tests or another deployment. The namespace may hold only letters, digits,
 * "-" and ".".
 */
#ifndef QB_RPC_H
#define QB_RPC_H

#include "qb_export.h"

QB_BEGIN_DECLS

#define QB_RPC_HOST_FORMAT "http://quorbit-rpc.%s.svc.cluster.local"
#define QB_RPC_HOST_PARAM "--rpc-host-format"
#define QB_RPC_PORT 7000
#define QB_RPC_PATH "/rpc/invoke"

/** "app.cs.masterNamespace" of the JSON in NODE_CONFIG (the last such entry
 * of the environment wins), as a heap string the caller frees; NULL when
 * absent. */
QB_API char* qb_get_namespace(void);
/** Sends one request; a missing stream parameter is sent as "" (logged). */
QB_API void qb_rpc_start_dll(char* oss_package_path, char* function_name);

QB_END_DECLS

#endif /* QB_RPC_H */
