// A host for the benchmark that is not written in C++: Node.js's own HTTP server, answering
// every POST /mcp with the ping's reply at once. It writes its endpoint file where the bridge
// looks under HOME, then prints "ready".
import crypto from "node:crypto";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";

const token = crypto.randomBytes(32).toString("hex");

const server = http.createServer((request, response) => {
  if (request.headers.authorization !== `Bearer ${token}`) {
    response.writeHead(401, { "Content-Length": 0 }).end();
    return;
  }
  const chunks = [];
  request.on("data", (chunk) => chunks.push(chunk));
  request.on("end", () => {
    const message = JSON.parse(Buffer.concat(chunks).toString("utf8"));
    const reply = JSON.stringify({ jsonrpc: "2.0", id: message.id ?? null, result: {} });
    response.writeHead(200, { "Content-Type": "application/json", "Content-Length": Buffer.byteLength(reply), Connection: "close" });
    response.end(reply);
  });
});

server.listen(0, "127.0.0.1", () => {
  const base = process.platform === "darwin" ? path.join(os.homedir(), "Library") : path.join(os.homedir(), ".config");
  const folder = path.join(base, "Application Support", "Velto");
  fs.mkdirSync(folder, { recursive: true });
  const file = path.join(folder, "assistant.json");
  fs.writeFileSync(`${file}.new`, JSON.stringify({ port: server.address().port, token }), { mode: 0o600 });
  fs.renameSync(`${file}.new`, file);
  console.log("ready");
});

process.on("SIGTERM", () => server.close(() => process.exit(0)));
