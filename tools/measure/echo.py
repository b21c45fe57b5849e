# The echo answer as a tiny Python CGI script would give it, for comparison with the plugin.
import json
import os
import sys
from urllib.parse import parse_qs

msg = parse_qs(os.environ.get("QUERY_STRING", ""), keep_blank_values=True).get("msg", [""])[0]
answer = {"ok": True, "action": "echo", "msg": msg, "len": len(msg.encode())}
sys.stdout.buffer.write(
    b"Content-Type: application/json; charset=utf-8\r\n"
    b"Cache-Control: no-store\r\n"
    b"X-Content-Type-Options: nosniff\r\n"
    b"\r\n"
    + json.dumps(answer, ensure_ascii=False, separators=(",", ":")).encode()
    + b"\n"
)
