#pragma once

#include <QStringList>

// `varnix mcp-bridge --session <UUID>`: an MCP server on standard input and output that relays
// tool calls to the running application's control socket. No application object, preferences,
// windows or sessions exist in this mode.
namespace MCPBridge {

// `arguments` are those after "mcp-bridge". Returns when standard input ends and every tool call
// in flight has written its answer.
void run(const QStringList& arguments);

// The value after the last "--session"; "current" when there is none.
QString sessionFromArguments(const QStringList& arguments);

}  // namespace MCPBridge
