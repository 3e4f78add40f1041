-- Schema and first rows of the template database. The build turns this file into
-- Tovalin.db, which the application copies into the documents folder on first start.
--
-- Every column is TEXT: the program writes every value as a quoted text, and a receipt
-- number such as 0000012 must read back with its leading zeros. Dates are fixed-width
-- "yyyy-MM-dd HH:mm:ss" texts, so they compare as text in time order.

create table tb_receipt (
    id          text primary key not null,
    receiptNo   text,
    receiptDate text,
    payer       text,
    reason1     text,
    reason2     text,
    remark      text,
    paytype     text,
    payee       text,
    approve     text,
    accountant  text,
    creator     text,
    createDate  text,
    total       text,
    totalBig    text,
    isDeleted   text
);
-- The numbering asks "is this number taken?" once per candidate, and the lists select
-- a date range: both must find their rows without reading the whole table. No two
-- receipts may carry one number, whatever program writes the file.
create unique index idx_receipt_receiptNo on tb_receipt (receiptNo);
create index idx_receipt_receiptDate on tb_receipt (receiptDate);
-- The search for an amount looks up the stored totals near it by their value. A book made
-- before has it made after its search index is filled (model/receiptsearchindex.cpp).
create index idx_receipt_totalValue on tb_receipt (cast(total as real));
-- A long range of a list is read in the book's order (highest number first) a part at a
-- time, each part its own short read, without sorting the range for every part. A book
-- made before gets it with the amounts' index.
create index idx_receipt_list on tb_receipt (receiptNo, receiptDate, isDeleted);

create table tb_receiptNo (
    numLong text,
    currNum text
);
insert into tb_receiptNo (numLong, currNum) values ('7', '1');

create table tb_company (
    id     text primary key not null,
    title  text,
    label  text,
    remark text
);
insert into tb_company (id, title, label, remark)
values ('1DE66976-663D-4270-9207-4F9E4CEF354C', '收款收据', '交款人收执', '');

create table tb_payer   (id text primary key not null, content text);
create table tb_reason1 (id text primary key not null, content text);
create table tb_reason2 (id text primary key not null, content text);
create table tb_remark  (id text primary key not null, content text);
create table tb_paytype (id text primary key not null, content text);

insert into tb_paytype (id, content) values
    ('87F8C756-DF81-4C3C-A577-C477275183C2', '现金'),
    ('56D3D3AB-DE56-43AB-93AC-4ED0E730E9A3', '银行转账'),
    ('1B970298-D54C-460D-8AED-DC80333BE183', '微信'),
    ('F63E5B79-F600-4B9A-A7ED-ADFD57FD22B5', '支付宝');

-- password, power and status are read but never written by the program; rows it
-- inserts leave them NULL, which reads back as empty text.
create table tb_account (
    id       text primary key not null,
    userName text,
    password text,
    power    text,
    status   text
);

-- Voided receipts: a spoiled receipt keeps its number and stays in the book, marked.
create table tb_void (
    receiptId text primary key not null,
    reason    text not null,
    voidDate  text not null
);

-- Every change of a receipt, written in the same transaction as the change. action is
-- insert, update, delete, void, unvoid, print or restore; detail is the receipt as JSON
-- (after the change; before it for a delete), with the reason of a void. A restore of the
-- whole book from a backup has no receipt: its detail holds the file, and the highest
-- number and the receipt count of the book it replaced. desk names the computer and user
-- that made the change ("user@host"); empty for rows from before it was kept.
create table tb_history (
    id        integer primary key autoincrement,
    time      text not null,
    action    text not null,
    receiptId text,
    receiptNo text,
    detail    text,
    desk      text
);
create index idx_history_receiptId on tb_history (receiptId);
-- A number's value, its text without the zeros before it: a number is one number in any
-- padding (5, 0000005), taken by a receipt or, as the history shows, issued once.
create index idx_history_receiptNoValue on tb_history (ltrim(receiptNo, '0'));
create index idx_receipt_receiptNoValue on tb_receipt (ltrim(receiptNo, '0'));

-- The search of the lists: every run of three characters of the searched texts, found
-- without reading the receipts (SQLite's trigram index, letters in any case). The index
-- reads its texts from tb_receipt by rowid, and the triggers keep it in step with every
-- write, whatever program makes it. A book made before the index had it created empty:
-- filledTo is the highest rowid it covers, filled in the background, and the triggers
-- only touch rows below it; 9223372036854775807 means all of them.
create virtual table fts_receipt using fts5(receiptNo, payer, reason1, reason2, remark, paytype, payee, content='tb_receipt', tokenize='trigram');
create table tb_searchIndex (filledTo integer not null);
insert into tb_searchIndex (filledTo) values (9223372036854775807);
create trigger trg_receipt_search_insert after insert on tb_receipt begin insert into fts_receipt (rowid, receiptNo, payer, reason1, reason2, remark, paytype, payee) select new.rowid, new.receiptNo, new.payer, new.reason1, new.reason2, new.remark, new.paytype, new.payee where new.rowid <= (select max(filledTo) from tb_searchIndex); end;
create trigger trg_receipt_search_delete after delete on tb_receipt begin insert into fts_receipt (fts_receipt, rowid, receiptNo, payer, reason1, reason2, remark, paytype, payee) select 'delete', old.rowid, old.receiptNo, old.payer, old.reason1, old.reason2, old.remark, old.paytype, old.payee where old.rowid <= (select max(filledTo) from tb_searchIndex); end;
create trigger trg_receipt_search_update after update on tb_receipt begin insert into fts_receipt (fts_receipt, rowid, receiptNo, payer, reason1, reason2, remark, paytype, payee) select 'delete', old.rowid, old.receiptNo, old.payer, old.reason1, old.reason2, old.remark, old.paytype, old.payee where old.rowid <= (select max(filledTo) from tb_searchIndex); insert into fts_receipt (rowid, receiptNo, payer, reason1, reason2, remark, paytype, payee) select new.rowid, new.receiptNo, new.payer, new.reason1, new.reason2, new.remark, new.paytype, new.payee where new.rowid <= (select max(filledTo) from tb_searchIndex); end;

-- The record chain: each history row's link (persistence/recordchain.h) in the order the
-- rows were written, and the chain's head. The trigger chains every row as it is written,
-- by whatever program; quenta_link is this program's own function, so another program
-- cannot add a history row without dropping the trigger, which the start-up check reports.
create table tb_chain (
    link      integer primary key,
    historyId integer not null unique,
    hash      text not null
);
create table tb_chainHead (rows integer not null, head text not null);
insert into tb_chainHead (rows, head) values (0, '');
create trigger trg_history_chain after insert on tb_history begin insert into tb_chain (link, historyId, hash) select rows + 1, new.id, quenta_link(head, new.time, new.action, new.receiptId, new.receiptNo, new.detail, new.desk) from tb_chainHead; update tb_chainHead set rows = rows + 1, head = (select hash from tb_chain where historyId = new.id); end;

-- Closed days (日结): every receipt dated up to a closing's day is final. Its row, its
-- day and every receipt of those days can then neither change nor go, and no receipt can be
-- put into them; a void is still added (and told on the day it is made). The triggers hold
-- for whatever program writes, and a closing is final: its rows are never changed.
create table tb_closing (
    closedTo text primary key not null,
    time     text not null,
    desk     text
);
create trigger trg_closing_final_update before update on tb_closing begin select raise(abort, 'quenta_day_closed'); end;
create trigger trg_closing_final_delete before delete on tb_closing begin select raise(abort, 'quenta_day_closed'); end;
create trigger trg_receipt_closed_insert before insert on tb_receipt when substr(new.receiptDate, 1, 10) <= (select max(closedTo) from tb_closing) begin select raise(abort, 'quenta_day_closed'); end;
create trigger trg_receipt_closed_update before update on tb_receipt when substr(old.receiptDate, 1, 10) <= (select max(closedTo) from tb_closing) or substr(new.receiptDate, 1, 10) <= (select max(closedTo) from tb_closing) begin select raise(abort, 'quenta_day_closed'); end;
create trigger trg_receipt_closed_delete before delete on tb_receipt when substr(old.receiptDate, 1, 10) <= (select max(closedTo) from tb_closing) begin select raise(abort, 'quenta_day_closed'); end;
create trigger trg_void_closed_delete before delete on tb_void when (select substr(receiptDate, 1, 10) from tb_receipt where id = old.receiptId) <= (select max(closedTo) from tb_closing) begin select raise(abort, 'quenta_day_closed'); end;

-- Series of receipt numbers (收据类别) besides the book's own numbering (tb_receiptNo, the
-- default series, without a prefix). A series' prefix may hold {yyyy}, the year of the
-- receipt; yearly is 1 when its numbers start again at 1 each year. Its counters are kept
-- for each year then (year '' otherwise): currNum is the next number to issue.
create table tb_series (
    name    text primary key not null,
    prefix  text not null unique,
    numLong integer not null,
    yearly  integer not null
);
create table tb_seriesCounter (
    series  text not null,
    year    text not null,
    currNum integer not null,
    primary key (series, year)
);
-- The paper books (收据本) of pre-numbered forms the receipts are printed on: first to last
-- of a series ('' the default), handed to a holder. A series with books issues only the
-- numbers of its books not yet returned (缴销, returned is its time), in order. Spoiled forms
-- (废票) are history rows of their own (action 'spoil').
create table tb_paperBook (
    series   text not null,
    first    integer not null,
    last     integer not null,
    holder   text,
    time     text not null,
    desk     text,
    returned text,
    primary key (series, first)
);
create index idx_history_spoiled on tb_history (receiptNo) where action = 'spoil';
create trigger trg_receipt_paper_book before insert on tb_receipt when new.receiptNo <> '' and new.receiptNo not glob '*[^0-9]*' and length(new.receiptNo) <= 18 and exists (select 1 from tb_paperBook where series = '') and not exists (select 1 from tb_paperBook where series = '' and returned is null and cast(new.receiptNo as integer) between first and last) begin select raise(abort, 'quenta_outside_paper_books'); end;
-- A registered book is kept as registered; its return (缴销) is its one change, and final.
create trigger trg_paper_book_final_update before update on tb_paperBook when old.returned is not null or new.returned is null or new.series is not old.series or new.first is not old.first or new.last is not old.last or new.holder is not old.holder or new.time is not old.time or new.desk is not old.desk begin select raise(abort, 'quenta_paper_book_final'); end;
create trigger trg_paper_book_final_delete before delete on tb_paperBook begin select raise(abort, 'quenta_paper_book_final'); end;

-- The schema's version: a book made by an older version is brought up to it when it
-- opens (persistence/schemaupgrade.cpp); one from a newer version is only read.
pragma user_version = 7;

