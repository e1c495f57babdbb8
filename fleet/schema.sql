-- The fleet store: what Keldrun's --jsonl lines say about many machines (docs/fleet.md).
-- Run on every shard: clickhouse-client --multiquery < fleet/schema.sql
-- The *_local tables hold each shard's part; the tables without the suffix are Distributed
-- over the cluster "fleet" (remote_servers in the servers' configuration) and are the ones
-- to load and to query. Rows are sharded by computer, so one machine's rows sit on one shard.
-- Columns follow schema version 1 of the lines (docs/cli.md); fields a table has no column
-- for are skipped on load (input_format_skip_unknown_fields=1).

CREATE DATABASE IF NOT EXISTS fleet;

-- The state of each machine: the lines of "keldrun dump N --jsonl", one per key, value,
-- folder, file, application group and record. A field a line lacks (the registry's on a file)
-- loads as '' or 0.
CREATE TABLE IF NOT EXISTS fleet.state_local (
    schema UInt16,
    snapshotId String,
    computer String,
    snapshotName String,
    number Int32,
    date String,
    section String,
    kind String,
    path String,
    name String,
    type UInt32,
    typeText String,
    data String,
    size UInt64,
    modified UInt64,
    changeTime UInt64,
    fileId UInt64,
    sha256 Nullable(String),
    version String,
    company String,
    status String,
    startup String,
    file String
) ENGINE = MergeTree() ORDER BY (computer, section, path);

CREATE TABLE IF NOT EXISTS fleet.state AS fleet.state_local
    ENGINE = Distributed(fleet, fleet, state_local, sipHash64(computer));

-- The differences of each machine (B) from a reference (A, the golden image), or from its own
-- earlier snapshot: the lines of "keldrun compare A B --jsonl", which hold the state's fields and
-- what the comparison says. computer and snapshotId are those of the side the line comes from;
-- computerB is the machine compared, computerA the reference.
CREATE TABLE IF NOT EXISTS fleet.differences_local
    ENGINE = MergeTree() ORDER BY (computerB, section, path)
    AS SELECT *, '' AS snapshotIdA, '' AS snapshotIdB, '' AS computerA, '' AS computerB, '' AS side,
              '' AS label, '' AS state, toUInt8(0) AS stateNumber, toUInt8(0) AS ownChanged,
              emptyArrayString() AS marks
       FROM fleet.state_local LIMIT 0;

CREATE TABLE IF NOT EXISTS fleet.differences AS fleet.differences_local
    ENGINE = Distributed(fleet, fleet, differences_local, sipHash64(computerB));
