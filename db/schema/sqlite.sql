-- Account database of the Talvorine Messenger Server, SQLite (the embedded default).
-- Safe to run again: every object is created only when missing.

CREATE TABLE IF NOT EXISTS USERS (
    ID          VARCHAR(8)   NOT NULL PRIMARY KEY,
    Password    VARCHAR(128) NOT NULL DEFAULT '',
    Disabled    BOOLEAN      NOT NULL DEFAULT 0,
    Online      BOOLEAN      NOT NULL DEFAULT 0,
    UserId      INTEGER,
    RealName    VARCHAR(64)  NOT NULL DEFAULT '',
    Nickname    VARCHAR(64)  NOT NULL DEFAULT '',
    Gender      INTEGER      NOT NULL DEFAULT 0,
    Birthday    VARCHAR(255) NOT NULL DEFAULT '',
    Email       VARCHAR(255) NOT NULL DEFAULT '',
    HomePage    VARCHAR(255) NOT NULL DEFAULT '',
    Address     VARCHAR(255) NOT NULL DEFAULT '',
    City        VARCHAR(64)  NOT NULL DEFAULT '',
    State       VARCHAR(64)  NOT NULL DEFAULT '',
    Country     VARCHAR(64)  NOT NULL DEFAULT '',
    Zip         VARCHAR(16)  NOT NULL DEFAULT '',
    Phone       VARCHAR(32)  NOT NULL DEFAULT '',
    Fax         VARCHAR(32)  NOT NULL DEFAULT '',
    MobilePhone VARCHAR(32)  NOT NULL DEFAULT '',
    BeepPager   VARCHAR(32)  NOT NULL DEFAULT '',
    Company     VARCHAR(128) NOT NULL DEFAULT '',
    Department  VARCHAR(64)  NOT NULL DEFAULT '',
    Position    VARCHAR(64)  NOT NULL DEFAULT '',
    Occupation  VARCHAR(64)  NOT NULL DEFAULT '',
    Description VARCHAR(255) NOT NULL DEFAULT ''
);

CREATE TABLE IF NOT EXISTS OFFLINEMSG (
    MsgId     INTEGER      PRIMARY KEY AUTOINCREMENT,
    Sender    VARCHAR(8)   NOT NULL,
    Recipient VARCHAR(8)   NOT NULL,
    RecvTime  INTEGER      NOT NULL,
    Richtext  INTEGER      NOT NULL DEFAULT 0,
    Brief     VARCHAR(30)  NOT NULL DEFAULT '',
    Body      TEXT         NOT NULL DEFAULT ''
);

CREATE INDEX IF NOT EXISTS OFFLINEMSG_Recipient ON OFFLINEMSG (Recipient);
