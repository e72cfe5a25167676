// VeltoMCP beside two generic Node.js bridges from the npm registry (supergateway and
// mcp-remote, installed into bench/peers by bench/run.sh), each driven as an AI app drives it:
// one stdio client, the MCP handshake, then tool calls. One host, in this process, answers them
// all over Streamable HTTP: a get_notes answer of 2,000 notes, with and without structuredContent,
// and, where the reference host is given, the describe_session answer that it gives (a few
// kilobytes of escaped text), taken from it once and served as it was.
// The figure is the time that each bridge adds to a round trip over a direct POST of the same
// message to the host, taken call by call, the paths in a new order each call, so that what the
// machine does meanwhile falls on all of them alike.
//
// The relay yardstick runs beside them where it is given: it posts and writes back the bytes with
// no JSON at all, so what it adds is the floor under what any bridge adds.
//
// Usage: node bench/peers.mjs <VeltoMCP> [<velto_yardstick_relay> [<velto_reference_host>]]
import { spawn } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { endpointFile, startHost, writeEndpointFile } from "./NodeHost.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const [veltoBridge, yardstick, referenceHost] = process.argv.slice(2);
const rounds = 3, callsPerRound = 15, notes = 2000;
const token = crypto.randomBytes(32).toString("hex");

/** The answer of get_notes, as a host builds it: the notes as the tool's text, and beside it as
    structuredContent where asked. */
function notesResult(structured) {
  const list = [];
  for (let i = 0; i < notes; i++) {
    const beat = i * 0.5;
    list.push({ clip: 1 + Math.floor(i / 500), pitch: 36 + ((i * 7) % 48), name: `C${i % 8}`, start_bar: 1 + beat / 4,
                start_beats: beat, length_beats: 0.25 + (i % 4) * 0.125, velocity: 64 + (i % 64) });
  }
  const payload = { track: "Keys", total: notes, notes: list };
  const result = { content: [{ type: "text", text: JSON.stringify(payload) }], isError: false };
  if (structured) result.structuredContent = payload;
  return result;
}

/** The result of describe_session as the reference host gives it, asked of it under a home of its
    own; null where it does not answer. */
async function describeSessionResult() {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "velto-peers-reference-"));
  const host = spawn(referenceHost, [], { env: { ...process.env, HOME: home, CFFIXED_USER_HOME: home }, stdio: "ignore" });

  try {
    // The host writes its endpoint file whole under a temporary name and renames it
    for (let i = 0; i < 1000 && !fs.existsSync(endpointFile(home)); i++) await new Promise((resolve) => setTimeout(resolve, 10));
    const { port, token: hostToken } = JSON.parse(fs.readFileSync(endpointFile(home), "utf8"));
    const response = await fetch(`http://127.0.0.1:${port}/mcp`, {
      method: "POST",
      headers: { Authorization: `Bearer ${hostToken}`, "Content-Type": "application/json", Accept: "application/json, text/event-stream" },
      body: JSON.stringify({ jsonrpc: "2.0", id: 1, method: "tools/call", params: { name: "describe_session", arguments: {} } }),
    });
    return (await response.json()).result ?? null;
  } catch {
    return null;
  } finally {
    host.kill();
    fs.rmSync(home, { recursive: true, force: true });
  }
}

const answers = [
  { tool: "get_notes", label: "a 2,000-note answer with structuredContent", result: notesResult(true), target: 5 },
  { tool: "get_notes", label: "a 2,000-note answer as text alone", result: notesResult(false), target: 5 },
];

if (referenceHost) {
  const result = await describeSessionResult();
  if (result) answers.push({ tool: "describe_session", label: "describe_session, as the reference host answers it", result });
  else console.log("the reference host gave no describe_session answer: no figures for it");
}

let answer = answers[0];   // what the host answers to tools/call now

function reply(message) {
  switch (message.method) {
    case "initialize":
      return { protocolVersion: message.params?.protocolVersion ?? "2025-06-18", capabilities: { tools: {} },
               serverInfo: { name: "peers-host", version: "1.0.0" } };
    case "tools/list":
      return { tools: [...new Set(answers.map(({ tool }) => tool))].map((name) => ({ name, description: name, inputSchema: { type: "object", properties: {} } })) };
    case "tools/call":
      return answer.result;
    default:
      return {};
  }
}

// Connections are kept for the Node.js bridges, which can reuse them; VeltoMCP opens one a message
const server = await startHost(token, reply, false);
const url = `http://127.0.0.1:${server.address().port}/mcp`;

// VeltoMCP finds the host through its endpoint file, under a home of its own
const home = fs.mkdtempSync(path.join(os.tmpdir(), "velto-peers-"));
writeEndpointFile(home, server.address().port, token);

/** A stdio MCP bridge as a child: send() a message, and the reply to it by its id. */
function bridge(name, command, args, env = {}) {
  const child = spawn(command, args, { env: { ...process.env, ...env }, stdio: ["pipe", "pipe", "ignore"] });
  const waiting = new Map();
  let pending = "";
  child.stdout.on("data", (data) => {
    pending += data.toString("utf8");
    for (let lf = pending.indexOf("\n"); lf >= 0; lf = pending.indexOf("\n")) {
      const line = pending.slice(0, lf);
      pending = pending.slice(lf + 1);
      if (line.trim() === "") continue;
      // The reply's id, without parsing the whole line: the client's own parse would be the same
      // work for every bridge, and no part of what a bridge adds. No other member of these
      // answers is named "id"; inside the tool's text, every quote follows a backslash.
      const id = Number(/(?<!\\)"id":\s*(\d+)/.exec(line)?.[1]);
      waiting.get(id)?.(line);
      waiting.delete(id);
    }
  });
  return {
    name,
    child,
    send(message) {
      const replied = message.id === undefined ? Promise.resolve() : new Promise((resolve) => waiting.set(message.id, resolve));
      child.stdin.write(JSON.stringify(message) + "\n");
      return replied;
    },
  };
}

const peers = path.join(here, "peers", "node_modules");
const bridges = [
  bridge("VeltoMCP", veltoBridge, [], { HOME: home, CFFIXED_USER_HOME: home }),
  ...(yardstick ? [bridge("yardstick", yardstick, [], { HOME: home, CFFIXED_USER_HOME: home })] : []),
  bridge("supergateway", process.execPath, [path.join(peers, "supergateway", "dist", "index.js"), "--streamableHttp", url,
                                            "--header", `Authorization: Bearer ${token}`, "--logLevel", "none"]),
  bridge("mcp-remote", process.execPath, [path.join(peers, "mcp-remote", "dist", "proxy.js"), url, "--header",
                                          `Authorization:Bearer ${token}`, "--allow-http", "--transport", "http-only"]),
];

let nextId = 1;
const call = () => ({ jsonrpc: "2.0", id: nextId++, method: "tools/call", params: { name: answer.tool, arguments: {} } });

for (const b of bridges) {
  const initialized = await Promise.race([
    b.send({ jsonrpc: "2.0", id: nextId++, method: "initialize",
             params: { protocolVersion: "2025-06-18", capabilities: {}, clientInfo: { name: "velto-bench", version: "1.0.0" } } }),
    new Promise((resolve) => setTimeout(() => resolve(null), 20000)),
  ]);
  if (!initialized) {
    console.log(`${b.name} did not answer initialize: no figures for it`);
    b.failed = true;
    continue;
  }
  await b.send({ jsonrpc: "2.0", method: "notifications/initialized" });
}

const milliseconds = (start) => Number(process.hrtime.bigint() - start) / 1e6;
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const live = bridges.filter((b) => !b.failed);

console.log(`time each bridge adds to a tools/call round trip over a direct POST to the same host (median of ${callsPerRound} calls a round)`);

for (answer of answers) {
  const size = Buffer.byteLength(JSON.stringify({ jsonrpc: "2.0", id: 1, result: answer.result }));
  const added = new Map(live.map((b) => [b.name, []]));

  for (let round = 0; round < rounds; round++) {
    const direct = [], through = new Map(live.map((b) => [b.name, []]));

    // Each call goes by the direct POST and every bridge, in an order shuffled each time: a path
    // pays for what the one before it left the host to do, and no path may always follow the same
    const paths = [null, ...live];

    for (let i = 0; i < callsPerRound; i++) {
      for (let k = paths.length - 1; k > 0; k--) {
        const j = Math.floor(Math.random() * (k + 1));
        [paths[k], paths[j]] = [paths[j], paths[k]];
      }

      for (const b of paths) {
        const start = process.hrtime.bigint();

        if (b === null) {
          const response = await fetch(url, { method: "POST", body: JSON.stringify(call()),
                                              headers: { Authorization: `Bearer ${token}`, "Content-Type": "application/json",
                                                         Accept: "application/json, text/event-stream" } });
          await response.arrayBuffer();
          direct.push(milliseconds(start));
        } else {
          await b.send(call());
          through.get(b.name).push(milliseconds(start));
        }
      }
    }

    for (const b of live) added.get(b.name).push(median(through.get(b.name)) - median(direct));
  }

  const label = `${answer.label} (${(size / 1000).toFixed(size < 10000 ? 1 : 0)} KB)`;
  const target = answer.target ? `target: at least ${answer.target}` : "no target";
  const figures = live.map((b) => `${b.name} +${added.get(b.name).map((ms) => ms.toFixed(1)).join(", ")} ms`);
  console.log(`${label}, rounds: ${figures.join("; ")}`);

  const velto = median(added.get("VeltoMCP") ?? [NaN]);
  const others = live.filter((b) => b.name !== "VeltoMCP" && b.name !== "yardstick").map((b) => median(added.get(b.name)));
  // A median at or below zero is VeltoMCP within the noise of a direct POST: no ratio to give
  if (others.length > 0 && velto <= 0)
    console.log(`  VeltoMCP adds nothing that this can tell from a direct POST (median ${velto.toFixed(2)} ms; ${target})`);
  else if (others.length > 0)
    console.log(`  the better Node.js bridge adds ${(Math.min(...others) / velto).toFixed(1)} times what VeltoMCP adds (${target})`);
}

for (const b of bridges) b.child.kill();
server.close();
fs.rmSync(home, { recursive: true, force: true });
