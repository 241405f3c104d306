#include "support/ws_peer.h"

#include "support/python_peer.h"

namespace qbtest {

PythonWsServer::PythonWsServer(const std::string& script) {
    const std::string path = dir_.file("server.py");
    write_file(path, script);
    proc_ = std::make_unique<PeerProcess>(std::vector<std::string>{kSystemPython, "-u", path});
    port_ = proc_->wait_for_port_line();
}

}  // namespace qbtest
