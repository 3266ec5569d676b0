-- LogDesk's tables in ClickHouse.
--
-- `logdesk-report --to clickhouse URL` runs the two CREATE statements of this
-- file (it carries the file's text in the program) when a table is missing,
-- with `logdesk_records` and `logdesk_loads` renamed after --table NAME
-- (NAME and NAME_loads). Accepted by ClickHouse 18.16 (Debian 12) and by
-- current releases.
--
-- One row per log record. Cells are the log's own bytes (GBK or UTF-8, as
-- the server wrote them). Typed columns hold the IIS value; a cell whose text
-- is not exactly the text of its typed value (empty, '-', '0200', a date
-- that is no date) leaves the column at its default and goes, under the
-- column's name, into odd_fields / odd_values, so that every cell reads back
-- as logged:
--   if(has(odd_fields, 'sc_status'), odd_values[indexOf(odd_fields, 'sc_status')],
--      toString(sc_status))
-- Fields outside the columns below keep their names in other_fields.
--
-- Only rows of finished loads count (see logdesk_loads):
--   WHERE load_id GLOBAL IN (SELECT load_id FROM logdesk_loads GROUP BY load_id
--                            HAVING countIf(state = 'done') > 0
--                               AND countIf(state = 'dropped') = 0)
CREATE TABLE IF NOT EXISTS logdesk_records
(
    load_id UInt64,               -- the load that wrote the row (logdesk_loads)
    source String,                -- the file as named, "ARCHIVE:MEMBER" for an archive member
    source_key String,            -- sorts as LogDesk reads files: by name, letters without case
    record UInt32,                -- the record's place among its file's records, from 1
    line UInt32,                  -- the line of the file it was read from, from 1
    crawlers Enum8('classic' = 1, 'all' = 2), -- the catalogue that named the crawler
    crawler String,               -- the crawler's display name (UTF-8); '' without a user-agent field
    date Date,                    -- date (UTC, as IIS logs it)
    time UInt32,                  -- time: seconds after midnight
    s_sitename String,
    s_computername String,
    s_ip String,
    cs_method String,
    cs_uri_stem String,
    cs_uri_query String,
    s_port UInt16,
    cs_username String,
    c_ip String,                  -- addresses as text: IPv4 and IPv6 alike, as logged
    cs_version String,
    cs_user_agent String,         -- the agent as logged
    cs_cookie String,
    cs_referer String,
    cs_host String,
    sc_status UInt16,
    sc_substatus UInt16,
    sc_win32_status UInt32,
    sc_bytes UInt64,
    cs_bytes UInt64,
    time_taken UInt32,            -- milliseconds
    odd_fields Array(String),
    odd_values Array(String),
    other_fields Array(String),
    other_values Array(String)
)
ENGINE = MergeTree()
PARTITION BY toYYYYMM(date)
ORDER BY (crawlers, date, crawler, cs_uri_stem);

-- The ledger: what was loaded. Rows are only ever added. A load is one
-- segment of one file (its records first_record + 1 .. end_record): a row in
-- state 'loading' goes in before its records, one in state 'done' after the
-- server acknowledged the last of them and their count was checked. A load
-- that never got its 'done' row (a crash, a killed process, a lost server)
-- is never counted, and the next run loads that segment again under a new
-- load_id. 'dropped' retracts a done load: the last line of a file, loaded
-- while the line was still unfinished (tail = 1), once the file has grown
-- past it.
--
-- A file is known by its first bytes (head_hash: FNV-1a 64 of the first
-- head_bytes bytes of its text, at most 65536) and the catalogue; a file
-- whose text starts with the same bytes and is longer than what its done
-- loads cover gets a new segment for the records after them.
CREATE TABLE IF NOT EXISTS logdesk_loads
(
    load_id UInt64,
    state Enum8('loading' = 1, 'done' = 2, 'dropped' = 3),
    at DateTime DEFAULT now(),    -- when the row was written
    source String,
    source_key String,
    crawlers Enum8('classic' = 1, 'all' = 2),
    head_bytes UInt32,
    head_hash UInt64,
    first_record UInt64,          -- records of the file before the segment
    end_record UInt64,            -- records of the file up to the segment's end
    first_byte UInt64,            -- the same in bytes of the file's text
    end_byte UInt64,
    file_bytes UInt64,            -- the file's size on disk when loaded (an archive's, a .gz file's)
    rows UInt64,                  -- end_record - first_record
    tail UInt8,                   -- 1: the segment is a last line without its line end
    fields Array(String)          -- the fields of the last #Fields: line the file's records were read with
)
ENGINE = MergeTree()
ORDER BY (head_hash, load_id);

-- Over a cluster: the tables above on every shard (ON CLUSTER, with a
-- Replicated engine where shards have replicas), and a Distributed table over
-- each, which logdesk-report then names with --table (NAME over NAME_local,
-- NAME_loads over NAME_loads_local). The ledger must see every shard's
-- loads, so its Distributed table goes over the same cluster; the queries use
-- GLOBAL IN for that. Rows are spread by load so that a load's rows and its
-- count stay on one shard.
--
-- CREATE TABLE logdesk_records_local ON CLUSTER logs AS logdesk_records
--     ENGINE = MergeTree() PARTITION BY toYYYYMM(date)
--     ORDER BY (crawlers, date, crawler, cs_uri_stem);
-- CREATE TABLE logdesk_loads_local ON CLUSTER logs AS logdesk_loads
--     ENGINE = MergeTree() ORDER BY (head_hash, load_id);
-- CREATE TABLE logdesk_records ON CLUSTER logs AS logdesk_records_local
--     ENGINE = Distributed(logs, default, logdesk_records_local, load_id);
-- CREATE TABLE logdesk_loads ON CLUSTER logs AS logdesk_loads_local
--     ENGINE = Distributed(logs, default, logdesk_loads_local, load_id);
