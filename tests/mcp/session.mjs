// One session of the official MCP TypeScript SDK's client with `chatdraft mcp`,
// as an assistant's host holds it. The plan comes as JSON in argv[2]:
//   {"command": [...], "env": {...},
//    "answer": "accept" | "decline" | "cancel" | "refuse" | null,  // null: no elicitation capability
//    "while_asked": {"ping": true, "cancel": {"name", "arguments"}},
//    "calls": [{"name", "arguments", "progress": true}]}
// It prints one JSON document: what the server said, every call's result
// (validated by the SDK against the tool's outputSchema), the progress and
// log notifications, the questions the person was asked.
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";
import {
  ElicitRequestSchema,
  LoggingMessageNotificationSchema,
} from "@modelcontextprotocol/sdk/types.js";

const plan = JSON.parse(process.argv[2]);
const seen = { asked: [], progress: [], logs: [], results: [], errors: [] };
const capabilities = plan.answer ? { elicitation: {} } : {};
const client = new Client({ name: "chatdraft-tests", version: "1.0.0" }, { capabilities });

client.setNotificationHandler(LoggingMessageNotificationSchema, (n) => seen.logs.push(n.params));

// While the person is asked, the server must still answer: a ping, and a
// call cancelled before its turn (it must never reach the client).
async function meanwhile() {
  const w = plan.while_asked || {};
  if (w.ping) {
    await client.ping();
    seen.pinged_while_asked = true;
  }
  if (w.cancel) {
    const abort = new AbortController();
    const call = client.callTool(w.cancel, undefined, { signal: abort.signal });
    abort.abort("changed my mind");
    try {
      await call;
      seen.cancelled_call = "answered";
    } catch (e) {
      seen.cancelled_call = "aborted";
    }
  }
}

if (plan.answer) {
  client.setRequestHandler(ElicitRequestSchema, async (request) => {
    seen.asked.push(request.params);
    await meanwhile();
    if (plan.answer === "refuse") throw new Error("no person here");
    if (plan.answer === "accept") return { action: "accept", content: { confirm: true } };
    return { action: plan.answer };
  });
}

const transport = new StdioClientTransport({
  command: plan.command[0],
  args: plan.command.slice(1),
  env: plan.env,
  stderr: "ignore",
});
await client.connect(transport);
seen.server = {
  version: client.getServerVersion(),
  capabilities: client.getServerCapabilities(),
  instructions: client.getInstructions(),
};
seen.tools = (await client.listTools()).tools;
for (const call of plan.calls) {
  const options = call.progress
    ? { onprogress: (p) => seen.progress.push(p), timeout: 120000 }
    : { timeout: 120000 };
  try {
    seen.results.push(await client.callTool({ name: call.name, arguments: call.arguments }, undefined, options));
  } catch (e) {
    seen.results.push(null);
    seen.errors.push(String(e));
  }
}
await client.close();
process.stdout.write(JSON.stringify(seen) + "\n");
