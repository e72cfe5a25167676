// Where the bridge looks for the endpoint file under a HOME, and the environment that puts it
// there, for the Node.js tests.
import path from "node:path";

export function endpointPath(home) {
  const base = process.platform === "darwin" ? path.join(home, "Library") : path.join(home, ".config");
  return path.join(base, "Application Support", "Velto", "assistant.json");
}

// HOME, and CFFIXED_USER_HOME for macOS, where JUCE finds ~/Library through the account unless
// CoreFoundation is told otherwise: a child given only HOME would use a running Velto's file.
export function homeEnv(home, extra = {}) {
  return { HOME: home, CFFIXED_USER_HOME: home, PATH: process.env.PATH ?? "", ...extra };
}
