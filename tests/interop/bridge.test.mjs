// The official MCP TypeScript SDK client against the built bridge. The SDK checks every
// response against the protocol's schema, so this catches what byte-level tests miss.
import { test } from "node:test";
import assert from "node:assert/strict";
import http from "node:http";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { endpointPath, homeEnv } from "../support/endpoint.mjs";
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";

const bridge = process.env.VELTO_BRIDGE;
const notOpen = "Velto isn't open, or its AI assistant connection is off. Open Velto and turn it on in Options > AI Assistant, then try again.";
const token = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

function tempHome() {
  return fs.mkdtempSync(path.join(os.tmpdir(), "velto-interop-"));
}

function publishEndpoint(home, port) {
  const file = endpointPath(home);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, JSON.stringify({ port, token }), { mode: 0o600 });
}

async function connect(home) {
  const transport = new StdioClientTransport({
    command: bridge,
    args: [],
    env: homeEnv(home),
    stderr: "pipe",
  });
  let stderr = "";
  transport.stderr?.on("data", (chunk) => { stderr += chunk; });
  const client = new Client({ name: "velto-interop", version: "1.0.0" });
  await client.connect(transport);
  return { client, stderr: () => stderr };
}

/** A host that answers as a real MCP server would, so the client sees its answers. */
function startHost() {
  const seen = [];
  const server = http.createServer((request, response) => {
    let body = "";
    request.on("data", (chunk) => { body += chunk; });
    request.on("end", () => {
      seen.push({ headers: request.headers, body });
      if (request.headers.authorization !== `Bearer ${token}`) {
        response.writeHead(401, { "Content-Length": 0 }).end();
        return;
      }
      const message = JSON.parse(body);
      const answer = (m) => {
        if (!("id" in m)) return undefined;
        const result = {
          initialize: { protocolVersion: m.params?.protocolVersion ?? "2025-06-18", capabilities: { tools: {} },
                        serverInfo: { name: "velto-host", version: "9.9.9" } },
          ping: {},
          "tools/list": { tools: [{ name: "host_tool", description: "from the host", inputSchema: { type: "object", properties: {} } }] },
          "tools/call": { content: [{ type: "text", text: `host ran ${m.params?.name}` }], isError: false },
        }[m.method];
        return result ? { jsonrpc: "2.0", id: m.id, result }
                      : { jsonrpc: "2.0", id: m.id, error: { code: -32601, message: "nope" } };
      };
      const reply = Array.isArray(message) ? message.map(answer).filter(Boolean) : answer(message);
      // Content-Length always: the bridge, like Velto, does not speak chunked transfer coding
      if (reply === undefined || (Array.isArray(reply) && reply.length === 0)) {
        response.writeHead(202, { "Content-Length": 0 }).end();
      } else {
        const text = JSON.stringify(reply);
        response.writeHead(200, { "Content-Type": "application/json", "Content-Length": Buffer.byteLength(text) }).end(text);
      }
    });
  });
  return new Promise((resolve) => {
    server.listen(0, "127.0.0.1", () => resolve({ server, port: server.address().port, seen }));
  });
}

test("offline: handshake, ping, the six tools and the not-open tool error", async () => {
  const home = tempHome();
  const { client, stderr } = await connect(home);
  try {
    assert.deepEqual(client.getServerVersion(), { name: "velto", title: "Velto", version: process.env.VELTO_VERSION });
    assert.match(client.getInstructions(), /^Velto is a small DAW/);
    assert.deepEqual(await client.ping(), {});

    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name), ["describe_session", "describe_track", "get_notes", "play", "set_loop", "stop"]);
    for (const tool of tools) {
      assert.equal(tool.inputSchema.type, "object");
      const readOnly = ["describe_session", "describe_track", "get_notes"].includes(tool.name);
      assert.deepEqual(tool.annotations, { readOnlyHint: readOnly, destructiveHint: false, idempotentHint: readOnly, openWorldHint: false });
    }
    assert.deepEqual(tools[2].inputSchema.required, ["track"]);
    assert.deepEqual(Object.keys(tools[2].inputSchema.properties), ["track", "clip", "from_bar", "to_bar"]);
    assert.equal("required" in tools[3].inputSchema, false);

    const result = await client.callTool({ name: "play", arguments: { from_bar: 2 } });
    assert.equal(result.isError, true);
    assert.deepEqual(result.content, [{ type: "text", text: notOpen }]);
  } finally {
    await client.close();
    fs.rmSync(home, { recursive: true, force: true });
  }
  assert.equal(stderr(), "");
});

test("relayed: the client sees the host's answers, not the local ones", async () => {
  const home = tempHome();
  const host = await startHost();
  publishEndpoint(home, host.port);
  const { client, stderr } = await connect(home);
  try {
    assert.deepEqual(client.getServerVersion(), { name: "velto-host", version: "9.9.9" });
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name), ["host_tool"]);
    const result = await client.callTool({ name: "host_tool", arguments: {} });
    assert.deepEqual(result, { content: [{ type: "text", text: "host ran host_tool" }], isError: false });

    const first = host.seen[0];
    assert.equal(first.headers.authorization, `Bearer ${token}`);
    assert.equal(first.headers["content-type"], "application/json");
    assert.equal(first.headers.accept, "application/json, text/event-stream");
    assert.equal(JSON.parse(first.body).method, "initialize");
    assert.ok(host.seen.some((s) => JSON.parse(s.body).method === "notifications/initialized"));
  } finally {
    await client.close();
    host.server.close();
    fs.rmSync(home, { recursive: true, force: true });
  }
  assert.equal(stderr(), "");
});
