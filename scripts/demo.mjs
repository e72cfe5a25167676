// A scripted MCP session through the bridge, printed as a transcript. Run by scripts/demo.sh,
// which starts the reference host first.
import { spawn } from "node:child_process";
import readline from "node:readline";

const [bridge] = process.argv.slice(2);
const child = spawn(bridge, [], { stdio: ["pipe", "pipe", "inherit"] });
const replies = readline.createInterface({ input: child.stdout });
const waiting = [];
replies.on("line", (line) => waiting.shift()?.(line));

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

let id = 0;
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
  const reply = JSON.parse(await new Promise((resolve) => waiting.push(resolve)));
  if (method === "tools/list") show("<<<", reply.result.tools.map((t) => t.name).join(", "));
  else if (method === "tools/call") show(reply.result.isError ? "<<< (tool error)" : "<<<", reply.result.content[0].text);
  else show("<<<", JSON.stringify(reply.result ?? reply.error));
}
child.stdin.end();
