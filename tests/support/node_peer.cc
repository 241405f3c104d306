#include "support/node_peer.h"

#include <unistd.h>

namespace qbtest {

NodePeer::NodePeer(const std::string& script, const std::vector<std::string>& args) {
    const std::string dir = script.substr(0, script.find_last_of('/') + 1);
    if (access((dir + "node_modules").c_str(), F_OK) != 0) {
        missing_ = "no " + dir + "node_modules: run scripts/setup (it installs the Node peers with npm)\n";
        return;
    }
    std::vector<std::string> argv{"node", script};
    argv.insert(argv.end(), args.begin(), args.end());
    proc_ = std::make_unique<PeerProcess>(argv);
    port_ = proc_->wait_for_port_line(20000);
}

}  // namespace qbtest
