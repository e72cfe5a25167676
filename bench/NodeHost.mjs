// A host for the benchmark that is not written in C++: Node.js's own HTTP server. Run as a
// script, it answers every POST /mcp with the ping's reply at once, writes its endpoint file
// where the bridge looks under HOME, then prints "ready". bench/peers.mjs imports it to answer
// MCP itself.
import crypto from "node:crypto";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

/** A server on 127.0.0.1 that takes POST /mcp with `token` as its Bearer credential: a request
    (a message with an id) is answered with `result(message)`, a notification with 202. Each
    connection is closed after its answer, as Velto does, where `closeEach`. */
export function startHost(token, result, closeEach = true) {
  const server = http.createServer((request, response) => {
    if (request.method !== "POST" || request.headers.authorization !== `Bearer ${token}`) {
      response.writeHead(request.method !== "POST" ? 405 : 401, { "Content-Length": 0 }).end();
      return;
    }
    const chunks = [];
    request.on("data", (chunk) => chunks.push(chunk));
    request.on("end", () => {
      const message = JSON.parse(Buffer.concat(chunks).toString("utf8"));
      if (message.id === undefined) {
        response.writeHead(202, { "Content-Length": 0 }).end();
        return;
      }
      const reply = JSON.stringify({ jsonrpc: "2.0", id: message.id, result: result(message) });
      const head = { "Content-Type": "application/json", "Content-Length": Buffer.byteLength(reply) };
      response.writeHead(200, closeEach ? { ...head, Connection: "close" } : head);
      response.end(reply);
    });
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

/** Where the bridge looks for the endpoint file under `home`. */
export function endpointFile(home) {
  const base = process.platform === "darwin" ? path.join(home, "Library") : path.join(home, ".config");
  return path.join(base, "Application Support", "Velto", "assistant.json");
}

/** Writes the endpoint file of a host on `port` where the bridge looks under `home`. */
export function writeEndpointFile(home, port, token) {
  const file = endpointFile(home);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(`${file}.new`, JSON.stringify({ port, token }), { mode: 0o600 });
  fs.renameSync(`${file}.new`, file);
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const token = crypto.randomBytes(32).toString("hex");
  const server = await startHost(token, () => ({}));
  writeEndpointFile(os.homedir(), server.address().port, token);
  console.log("ready");
  process.on("SIGTERM", () => server.close(() => process.exit(0)));
}
