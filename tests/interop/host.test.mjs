// The official MCP TypeScript SDK client, through the bridge, to the reference host.
import { test } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { setTimeout as sleep } from "node:timers/promises";
import { endpointPath, homeEnv } from "../support/endpoint.mjs";
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";

const bridge = process.env.VELTO_BRIDGE;
const hostProgram = process.env.VELTO_HOST;
const notOpen = "Velto isn't open, or its AI assistant connection is off. Open Velto and turn it on in Options > AI Assistant, then try again.";


function endpointReady(home) {
  try {
    return JSON.parse(fs.readFileSync(endpointPath(home), "utf8")).port > 0;
  } catch {
    return false;   // not there yet, or still being written
  }
}

async function startHost(home) {
  const child = spawn(hostProgram, [], { env: homeEnv(home), stdio: "ignore" });
  for (let i = 0; i < 500 && !endpointReady(home); i++) await sleep(10);
  return child;
}

async function stopHost(child) {
  const exited = new Promise((resolve) => child.once("exit", resolve));
  child.kill("SIGTERM");
  await exited;
}

const text = (result) => result.content[0].text;
const data = (result) => JSON.parse(text(result));

test("all six tools through the bridge, with valid and invalid arguments", async () => {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "velto-host-interop-"));
  const host = await startHost(home);
  const transport = new StdioClientTransport({ command: bridge, args: [], env: homeEnv(home), stderr: "pipe" });
  let stderr = "";
  transport.stderr?.on("data", (chunk) => { stderr += chunk; });
  const client = new Client({ name: "velto-interop", version: "1.0.0" });
  try {
    await client.connect(transport);
    assert.equal(client.getServerVersion().name, "velto");
    const { tools } = await client.listTools();
    assert.equal(tools.length, 6);

    const session = data(await client.callTool({ name: "describe_session", arguments: {} }));
    assert.equal(session.tempo, 120);
    assert.deepEqual(session.tracks.map((t) => t.name), ["Drums", "Bass", "Arp", "Keys", "Vocal"]);
    assert.equal(session.master.name, "Master");

    const bass = data(await client.callTool({ name: "describe_track", arguments: { track: "Bass" } }));
    assert.deepEqual(bass.clips.map((c) => c.id), [2, 3]);
    assert.equal(data(await client.callTool({ name: "describe_track", arguments: { track: "2" } })).name, "Bass");
    assert.equal(data(await client.callTool({ name: "describe_track", arguments: { track: "Master" } })).kind, "master");
    assert.equal(data(await client.callTool({ name: "describe_track", arguments: { track: "Reverb" } })).kind, "return");

    const notes = data(await client.callTool({ name: "get_notes", arguments: { track: "Bass", clip: 2, from_bar: 2, to_bar: 3 } }));
    assert.equal(notes.returned, 4);
    assert.ok(notes.notes.every((n) => n.start_bar >= 2 && n.start_bar < 3 && n.clip === 2));
    assert.equal(data(await client.callTool({ name: "get_notes", arguments: { track: "Bass" } })).notes[0].name, "C1");
    const capped = data(await client.callTool({ name: "get_notes", arguments: { track: "Keys" } }));
    assert.equal(capped.returned, 2000);
    assert.equal(capped.truncated, true);

    const loop = data(await client.callTool({ name: "set_loop", arguments: { from_bar: 1, to_bar: 3 } }));
    assert.deepEqual(loop.loop, { on: true, from_bar: 1, to_bar: 3 });
    const playing = data(await client.callTool({ name: "play", arguments: { from_bar: 2, to_bar: 2.5 } }));
    assert.equal(playing.transport.playing, true);
    await sleep(700);   // half a bar at 120 bpm is one second; the playhead moves meanwhile
    const moving = data(await client.callTool({ name: "describe_session", arguments: {} })).transport;
    assert.ok(moving.position_bar > 2 && moving.position_bar < 2.5, JSON.stringify(moving));
    await sleep(500);
    assert.equal(data(await client.callTool({ name: "describe_session", arguments: {} })).transport.playing, false);
    await client.callTool({ name: "play", arguments: { loop_times: 1 } });
    assert.equal(data(await client.callTool({ name: "stop", arguments: {} })).transport.playing, false);

    const invalid = [
      ["describe_track", {}], ["describe_track", { track: "Nope" }], ["get_notes", { track: "Drums" }],
      ["get_notes", { track: "Bass", clip: 99 }], ["get_notes", { track: "Bass", clip: "x" }],
      ["get_notes", { track: "Bass", from_bar: 0 }], ["play", { to_bar: "soon" }], ["play", { loop_times: 0 }],
      ["set_loop", { from_bar: 5, to_bar: 3 }], ["set_loop", { on: "yes" }], ["no_such_tool", {}],
    ];
    for (const [name, args] of invalid) {
      const result = await client.callTool({ name, arguments: args });
      assert.equal(result.isError, true, `${name} ${JSON.stringify(args)}`);
      assert.ok(text(result).length > 0);
    }
  } finally {
    await client.close();
    await stopHost(host);
    fs.rmSync(home, { recursive: true, force: true });
  }
  assert.equal(stderr, "");
});

test("host killed mid-session: local answers; started again: found at the next message", async () => {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "velto-host-interop-"));
  let host = await startHost(home);
  const transport = new StdioClientTransport({ command: bridge, args: [], env: homeEnv(home), stderr: "pipe" });
  const client = new Client({ name: "velto-interop", version: "1.0.0" });
  try {
    await client.connect(transport);
    assert.equal((await client.callTool({ name: "stop", arguments: {} })).isError, false);

    host.kill("SIGKILL");   // no chance to remove its endpoint file: the bridge must cope
    await new Promise((resolve) => host.once("exit", resolve));
    const offline = await client.callTool({ name: "stop", arguments: {} });
    assert.deepEqual(offline, { content: [{ type: "text", text: notOpen }], isError: true });
    assert.equal((await client.listTools()).tools.length, 6);

    fs.rmSync(endpointPath(home));
    host = await startHost(home);   // a new port and a new token
    assert.equal((await client.callTool({ name: "stop", arguments: {} })).isError, false);
  } finally {
    await client.close();
    await stopHost(host);
    fs.rmSync(home, { recursive: true, force: true });
  }
});
