#pragma once

#include <QTcpServer>

namespace corvelle::test {

// A TCP port that was free a moment ago, for servers under test.
inline quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

}  // namespace corvelle::test
