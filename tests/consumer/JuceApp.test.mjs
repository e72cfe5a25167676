// The JUCE application that embeds the module (examples/juce-app), driven through the built
// bridge: the handshake and the catalogue, a tool call that the application answers on its
// message thread, and the refusal of a stale token. Then it must stop cleanly: status 0, its
// endpoint file gone, and its stderr free of JUCE's leak reports and assertions.
import { test } from "node:test";
import assert from "node:assert/strict";
import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { setTimeout as sleep } from "node:timers/promises";
import { endpointPath, homeEnv } from "../support/endpoint.mjs";

const application = process.env.VELTO_JUCE_APP;
const bridge = process.env.VELTO_BRIDGE;
const notOpen = "Velto isn't open, or its AI assistant connection is off. Open Velto and turn it on in Options > AI Assistant, then try again.";


function runBridge(home, messages) {
  const input = messages.map((m) => JSON.stringify(m) + "\n").join("");
  const result = spawnSync(bridge, [], { input, env: homeEnv(home), encoding: "utf8", timeout: 30000 });
  return { replies: result.stdout.split("\n").filter(Boolean).map((line) => JSON.parse(line)), stderr: result.stderr, status: result.status };
}

const call = (id, name) => ({ jsonrpc: "2.0", id, method: "tools/call", params: { name, arguments: {} } });

test("a JUCE application serves the bridge through the module, and stops cleanly", async () => {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "velto-juce-app-"));
  const app = spawn(application, [], { env: homeEnv(home), stdio: ["ignore", "pipe", "pipe"] });
  let stderr = "";
  app.stderr.on("data", (chunk) => { stderr += chunk; });
  const exited = new Promise((resolve) => app.once("exit", (code, signal) => resolve({ code, signal })));

  try {
    for (let i = 0; i < 1000 && !fs.existsSync(endpointPath(home)); i++) await sleep(10);

    const session = runBridge(home, [
      { jsonrpc: "2.0", id: 1, method: "initialize", params: { protocolVersion: "2025-06-18", capabilities: {}, clientInfo: { name: "t", version: "1" } } },
      { jsonrpc: "2.0", method: "notifications/initialized" },
      { jsonrpc: "2.0", id: 2, method: "tools/list" },
      call(3, "describe_session"),
      call(4, "play"),
    ]);
    assert.equal(session.stderr, "");
    assert.equal(session.replies.length, 4);
    assert.equal(session.replies[0].result.serverInfo.name, "velto");
    assert.equal(session.replies[1].result.tools.length, 6);
    // Answered by the application, from its own state on its message thread
    assert.equal(session.replies[2].result.isError, false);
    assert.deepEqual(JSON.parse(session.replies[2].result.content[0].text), { tempo: 96, playing: false, tracks: ["Piano", "Strings"] });
    assert.equal(JSON.parse(session.replies[3].result.content[0].text).playing, true);

    // A stale token: the application refuses, and the bridge says so and answers by itself
    const published = fs.readFileSync(endpointPath(home), "utf8");
    fs.writeFileSync(endpointPath(home), JSON.stringify({ port: JSON.parse(published).port, token: "f".repeat(64) }));
    const refused = runBridge(home, [call(5, "describe_session")]);
    assert.equal(refused.stderr, "VeltoMCP: Velto answered HTTP 401: The access token is missing or wrong: turn Velto's AI assistant connection off and on (Options > AI Assistant) and try again.\n");
    assert.equal(refused.replies[0].result.content[0].text, notOpen);

    // Its own file again, which it must take back when it stops; one naming another token it leaves
    fs.writeFileSync(endpointPath(home), published);
  } finally {
    app.kill("SIGTERM");
  }

  assert.deepEqual(await exited, { code: 0, signal: null });
  assert.equal(fs.existsSync(endpointPath(home)), false);
  // A Debug JUCE prints its version; anything else would be a leak report or an assertion
  assert.equal(stderr.replace(/^JUCE v[0-9.]+\n/, ""), "");
  fs.rmSync(home, { recursive: true, force: true });
});
