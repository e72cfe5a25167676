// Every MCP client configuration in the README, taken out of it as a user copies it: its shape is
// checked for its client, and the command it gives, with the built bridge put in place of the
// path, is started as that client would start it, through the handshake and the list of tools.
import { test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { homeEnv } from "../support/endpoint.mjs";
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";

const bridge = process.env.VELTO_BRIDGE;
const installed = "/usr/local/bin/VeltoMCP";
const readme = fs.readFileSync(new URL("../../README.md", import.meta.url), "utf8");

/** The clients of the section, each with its fenced snippets: { client: [{ language, text }] }. */
function snippetsByClient() {
  const section = readme.split("## Adding it to an MCP client")[1].split("\n### ")[0];
  const clients = {};
  let client = null;
  for (const block of section.split(/^(?=\*\*)/m)) {
    const name = block.match(/^\*\*(.+?)\*\*/);
    if (!name) continue;
    client = name[1];
    clients[client] = [...block.matchAll(/^```(\w+)\n([\s\S]*?)^```$/gm)].map(([, language, text]) => ({ language, text }));
  }
  return clients;
}

/** The little of TOML that a server table needs: [tables], and keys whose values are JSON's. */
function parseToml(text) {
  const result = {};
  let table = result;
  for (const line of text.split("\n").map((l) => l.trim()).filter(Boolean)) {
    const header = line.match(/^\[([\w.]+)\]$/);
    if (header) {
      table = header[1].split(".").reduce((at, key) => (at[key] ??= {}), result);
      continue;
    }
    const pair = line.match(/^(\w+)\s*=\s*(.+)$/);
    assert.ok(pair, `a TOML line this test does not read: ${line}`);
    table[pair[1]] = JSON.parse(pair[2]);
  }
  return result;
}

const commandAfter = (pattern) => ({ text }) => {
  const found = text.trim().match(pattern);
  assert.ok(found, `not the command for this client: ${text}`);
  return { command: found[1], args: [] };
};
const plain = (entry) => {
  assert.deepEqual(Object.keys(entry).sort(), ["args", "command"]);
  return entry;
};

// How each client takes a server, snippet by snippet, in the README's order
const shapes = {
  "Claude's desktop app": [({ text }) => plain(JSON.parse(text).mcpServers.velto)],
  "Claude Code": [commandAfter(/^claude mcp add velto -- (\S+)$/)],
  "Codex CLI": [commandAfter(/^codex mcp add velto -- (\S+)$/), ({ text }) => plain(parseToml(text).mcp_servers.velto)],
  "Gemini CLI": [commandAfter(/^gemini mcp add -s user velto (\S+)$/), ({ text }) => plain(JSON.parse(text).mcpServers.velto)],
  "opencode": [({ text }) => {
    const entry = JSON.parse(text).mcp.velto;
    assert.equal(entry.type, "local");
    assert.equal(entry.enabled, true);
    assert.ok(Array.isArray(entry.command) && entry.command.length >= 1);
    return { command: entry.command[0], args: entry.command.slice(1) };
  }],
  "Cursor": [({ text }) => plain(JSON.parse(text).mcpServers.velto)],
  "VS Code": [({ text }) => {
    const { type, ...entry } = JSON.parse(text).servers.velto;
    assert.equal(type, "stdio");
    return plain(entry);
  }],
  "Zed": [({ text }) => {
    const { source, ...entry } = JSON.parse(text).context_servers.velto;
    assert.equal(source, "custom");
    return plain(entry);
  }],
};

test("the README names exactly the clients whose configurations are checked here", () => {
  assert.deepEqual(Object.keys(snippetsByClient()).sort(), Object.keys(shapes).sort());
});

for (const [client, snippets] of Object.entries(snippetsByClient())) {
  test(`${client}: every snippet has the client's shape and starts the bridge`, async () => {
    const readers = shapes[client] ?? [];
    assert.equal(snippets.length, readers.length, `${client}: ${snippets.length} snippets, where ${readers.length} are expected`);

    for (const [i, snippet] of snippets.entries()) {
      const { command, args } = readers[i](snippet);
      assert.equal(command, installed, `${client}, snippet ${i + 1}`);

      const home = fs.mkdtempSync(path.join(os.tmpdir(), "velto-readme-"));
      const transport = new StdioClientTransport({ command: bridge, args, env: homeEnv(home), stderr: "pipe" });
      const mcp = new Client({ name: `readme-${client}`, version: "1.0.0" });
      try {
        await mcp.connect(transport);
        assert.equal(mcp.getServerVersion().name, "velto");
        const { tools } = await mcp.listTools();
        assert.equal(tools.length, 6, `${client}, snippet ${i + 1}`);
      } finally {
        await mcp.close();
        fs.rmSync(home, { recursive: true, force: true });
      }
    }
  });
}
