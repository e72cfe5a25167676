// Where the bridge looks for the endpoint file under a HOME, for the Node.js tests.
import path from "node:path";

export function endpointPath(home) {
  const base = process.platform === "darwin" ? path.join(home, "Library") : path.join(home, ".config");
  return path.join(base, "Application Support", "Velto", "assistant.json");
}
