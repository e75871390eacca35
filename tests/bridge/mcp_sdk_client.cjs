// Drives `varnix mcp-bridge` with the official MCP TypeScript SDK client over stdio.
// Usage: node mcp_sdk_client.cjs <dir holding node_modules/@modelcontextprotocol/sdk> <varnix> <session>
// Prints one JSON line: the SDK version, the negotiated server info, the tool names and one call's result.
const path = require('path');
const fs = require('fs');
const { createRequire } = require('module');

const [sdkRoot, exe, session] = process.argv.slice(2);
const load = createRequire(path.join(sdkRoot, 'package.json'));
const { Client } = load('@modelcontextprotocol/sdk/client/index.js');
const { StdioClientTransport } = load('@modelcontextprotocol/sdk/client/stdio.js');
const sdkVersion = JSON.parse(
  fs.readFileSync(path.join(sdkRoot, 'node_modules/@modelcontextprotocol/sdk/package.json'), 'utf8')).version;

(async () => {
  const transport = new StdioClientTransport({
    command: exe,
    args: ['mcp-bridge', '--session', session],
    env: process.env,
    stderr: 'inherit',
  });
  const client = new Client({ name: 'varnix-sdk-check', version: '1.0.0' });
  await client.connect(transport);
  const tools = await client.listTools();
  const result = await client.callTool({ name: 'list', arguments: {} });
  await client.ping();
  console.log(JSON.stringify({
    sdkVersion,
    server: client.getServerVersion(),
    capabilities: client.getServerCapabilities(),
    tools: tools.tools.map((t) => t.name),
    required: Object.fromEntries(tools.tools.map((t) => [t.name, t.inputSchema.required || []])),
    result,
  }));
  await client.close();
})().catch((e) => {
  console.error(e && e.stack ? e.stack : String(e));
  process.exit(1);
});
