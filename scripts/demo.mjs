// A scripted MCP session through the bridge, printed as a transcript. Run by scripts/demo.sh,
// which starts the reference host first. Ends with status 1 when a step did not get the answer
// it should have: no reply, a tool error, or an answer that did not come from the host.
import { spawn } from "node:child_process";
import readline from "node:readline";

const [bridge] = process.argv.slice(2);
const child = spawn(bridge, [], { stdio: ["pipe", "pipe", "inherit"] });
const replies = readline.createInterface({ input: child.stdout });
const waiting = [];
replies.on("line", (line) => waiting.shift()?.(line));
const replyTimeoutMs = 10000;

const steps = [
  ["initialize", { protocolVersion: "2025-06-18", capabilities: {}, clientInfo: { name: "demo", version: "1" } }],
  ["notifications/initialized"],
  ["tools/list", {}],
  ["tools/call", { name: "describe_session", arguments: {} }],
  ["tools/call", { name: "describe_track", arguments: { track: "Bass" } }],
  ["tools/call", { name: "get_notes", arguments: { track: "Bass", clip: 2, from_bar: 1, to_bar: 2 } }],
  ["tools/call", { name: "set_loop", arguments: { from_bar: 1, to_bar: 5 } }],
  ["tools/call", { name: "play", arguments: { from_bar: 1 } }],
  ["pause", 1500],
  ["tools/call", { name: "describe_session", arguments: {} }],
  ["tools/call", { name: "stop", arguments: {} }],
];

function show(label, text, width = 400) {
  const flat = text.length > width ? `${text.slice(0, width)} …(${text.length} characters)` : text;
  console.log(`${label} ${flat}`);
}

function nextReply() {
  return new Promise((resolve) => {
    const timer = setTimeout(() => resolve(null), replyTimeoutMs);
    waiting.push((line) => { clearTimeout(timer); resolve(line); });
  });
}

/** What makes a reply wrong for its step; empty when it is right. */
function fault(method, reply) {
  if (reply === null) return "no reply";
  if (reply.error) return `error ${JSON.stringify(reply.error)}`;
  if (method === "initialize" && reply.result?.serverInfo?.name !== "velto") return "no server identity";
  if (method === "tools/list" && reply.result?.tools?.length !== 6) return "not the six tools";
  if (method === "tools/call" && reply.result?.isError) return "a tool error: the host did not run the tool";
  return "";
}

let id = 0;
let faults = 0;
for (const [method, params] of steps) {
  if (method === "pause") {
    console.log(`\n(${params} ms pass; the transport keeps moving)`);
    await new Promise((resolve) => setTimeout(resolve, params));
    continue;
  }
  const message = method.startsWith("notifications/") ? { jsonrpc: "2.0", method } : { jsonrpc: "2.0", id: ++id, method, params };
  const label = method === "tools/call" ? `tools/call ${params.name} ${JSON.stringify(params.arguments)}` : method;
  console.log(`\n>>> ${label}`);
  child.stdin.write(JSON.stringify(message) + "\n");
  if (!("id" in message)) { console.log("    (a notification: no reply)"); continue; }
  const line = await nextReply();
  const reply = line === null ? null : JSON.parse(line);
  const wrong = fault(method, reply);
  if (wrong) { faults++; console.log(`!!! ${wrong}`); }
  if (reply === null) break;
  if (method === "tools/list") show("<<<", reply.result.tools.map((t) => t.name).join(", "));
  else if (method === "tools/call") show(reply.result.isError ? "<<< (tool error)" : "<<<", reply.result.content[0].text);
  else show("<<<", JSON.stringify(reply.result ?? reply.error));
}
child.stdin.end();
process.exitCode = faults === 0 ? 0 : 1;
